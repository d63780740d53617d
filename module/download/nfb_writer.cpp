#include "download/nfb_writer.h"

#include <algorithm>

#include "protocol/agent_commands.h"
#include "protocol/session_report.h"

namespace hx {
namespace {

// The download log's "." for each chunk sent, a line of 64 at a time and the
// rest as a line of its own when the image ends (or fails): the log receives
// whole lines, a few instead of one write per chunk.
class ChunkDots {
 public:
  explicit ChunkDots(SessionReport& report) : m_report(report) {}
  ChunkDots(const ChunkDots&) = delete;
  ChunkDots& operator=(const ChunkDots&) = delete;
  ~ChunkDots() { endLine(); }

  void add() {
    if (++m_count == kPerLine) endLine();
  }

 private:
  static constexpr int kPerLine = 64;

  void endLine() {
    static constexpr char kDots[kPerLine + 1] = "................................................................";
    if (m_count > 0) m_report.log("%.*s\n", m_count, kDots);
    m_count = 0;
  }

  SessionReport& m_report;
  int m_count = 0;
};

// Streams one image in chunks, a dot logged as each goes and its progress
// reported once the agent has it.
bool streamImage(Link& link, const ImageBuffer& image, SessionReport& report) {
  ChunkDots dots(report);
  NfbChunkSender chunks(link);
  for (uint32_t offset = 0; offset < image.length; offset += kNfbChunkBytes) {
    const uint32_t n = std::min(kNfbChunkBytes, image.length - offset);
    dots.add();
    if (chunks.send(image.data + offset, n) != 0) return false;
    report.progress(percentOf(offset, image.length));
    if (image.length - offset <= kNfbChunkBytes) break;
  }
  return true;
}

// The whole-image check; an empty image gives the write up instead.
bool checkImage(Link& link, const ImageBuffer& image) {
  if (image.length == 0 || image.data == nullptr) {
    giveUpNfbWrite(link);
    return false;
  }
  return sendNfbImageCheck(link, image.data, image.length) == 0;
}

bool usable(const ImageBuffer& image) { return image.data != nullptr || image.length == 0; }

}  // namespace

int writeNfbImages(Link& link, const ImageBuffer& primary, const ImageBuffer& secondary, SessionReport& report) {
  report.step(0, "Start Write NFB Image");
  if (!usable(primary) || !usable(secondary)) return kNfbWriteFailed;

  if (startNfbWrite(link) != 0) return kNfbWriteFailed;

  report.step(0, "Send ROM Image");
  if (!streamImage(link, primary, report)) return kNfbWriteFailed;
  report.step(0, "Send Secondary ROM Image");
  if (!streamImage(link, secondary, report)) return kNfbWriteFailed;

  if (readNfbImagesStored(link) != 0) return kNfbWriteFailed;
  if (!checkImage(link, primary) || !checkImage(link, secondary)) return kNfbWriteFailed;
  if (readNfbWriteDone(link) != 0) return kNfbWriteFailed;

  report.progress(100);
  report.step(100, "Write NFB Image Complete");
  return 0;
}

}  // namespace hx
