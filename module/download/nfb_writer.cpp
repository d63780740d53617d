#include "download/nfb_writer.h"

#include <algorithm>
#include <vector>

#include "protocol/agent_wire.h"
#include "protocol/session_report.h"
#include "link/link_ops.h"

namespace hx {
namespace {

constexpr uint8_t kCmdWriteNfb = 0xDE;
constexpr uint32_t kChunkBytes = 0x1000;

bool expectByte(Link& link, uint8_t expected) { return expectByteWaiting(link, expected); }

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

// Streams one image: each chunk and its sum go out in one write, and the
// agent answers 'i' for each.
bool streamImage(Link& link, const ImageBuffer& image, SessionReport& report) {
  ChunkDots dots(report);
  std::vector<uint8_t> frame;
  frame.reserve(kChunkBytes + 2);
  for (uint32_t offset = 0; offset < image.length; offset += kChunkBytes) {
    const uint32_t n = std::min(kChunkBytes, image.length - offset);
    const uint8_t* chunk = image.data + offset;
    dots.add();
    frame.assign(chunk, chunk + n);
    frame.resize(n + 2);
    putU16(frame.data() + n, byteSum16(chunk, n));
    if (writeBytes(link, frame.data(), frame.size()) != kLinkOk || !expectByte(link, kAgentContinue)) return false;
    report.progress(percentOf(offset, image.length));
    if (image.length - offset <= kChunkBytes) break;
  }
  return true;
}

// The whole-image check: 'Z' and the image's byte sum, answered with 'Z'. An
// empty image is given up with 0xA5.
bool checkImage(Link& link, const ImageBuffer& image) {
  if (image.length == 0 || image.data == nullptr) {
    writeU8(link, kAgentRefusal);
    return false;
  }
  uint8_t frame[3] = {kAgentAck};
  putU16(frame + 1, byteSum16(image.data, image.length));
  return writeBytes(link, frame, sizeof frame) == kLinkOk && expectByte(link, kAgentAck);
}

bool usable(const ImageBuffer& image) { return image.data != nullptr || image.length == 0; }

}  // namespace

int writeNfbImages(Link& link, const ImageBuffer& primary, const ImageBuffer& secondary, SessionReport& report) {
  report.step(0, "Start Write NFB Image");
  if (!usable(primary) || !usable(secondary)) return kNfbWriteFailed;

  uint8_t chunkSize[4];
  putU32(chunkSize, kChunkBytes);
  if (writeU8(link, kCmdWriteNfb) != kLinkOk || !expectByte(link, kAgentAck) ||
      writeBytes(link, chunkSize, sizeof chunkSize) != kLinkOk || !expectByte(link, kAgentAck))
    return kNfbWriteFailed;

  report.step(0, "Send ROM Image");
  if (!streamImage(link, primary, report)) return kNfbWriteFailed;
  report.step(0, "Send Secondary ROM Image");
  if (!streamImage(link, secondary, report)) return kNfbWriteFailed;

  if (!expectByte(link, kAgentAck) || !expectByte(link, kAgentAck)) return kNfbWriteFailed;
  if (!checkImage(link, primary) || !checkImage(link, secondary)) return kNfbWriteFailed;
  if (!expectByte(link, kAgentAck)) return kNfbWriteFailed;

  report.progress(100);
  report.step(100, "Write NFB Image Complete");
  return 0;
}

}  // namespace hx
