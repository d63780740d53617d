#include "expected_events.h"

#include <algorithm>
#include <cstdint>

namespace hxflash {
void PrintTo(const HostEvent& event, std::ostream* os) {
  *os << "(" << event.code << ", " << event.value << ", \"" << event.text << "\")";
}
}  // namespace hxflash

namespace hxtest {
namespace {

using hxflash::HostEvent;

int percent(uint64_t done, uint64_t total) {
  return total == 0 ? 100 : static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

void status(std::vector<HostEvent>& out, int value, const char* text) { out.push_back({2, value, text}); }
void progress(std::vector<HostEvent>& out, int value) { out.push_back({1, value, ""}); }

// Packets of 4096 bytes; each reports the share sent so far after its answer.
void packetProgress(std::vector<HostEvent>& out, uint64_t length) {
  for (uint64_t sent = 0; sent < length;) {
    sent += std::min<uint64_t>(4096, length - sent);
    progress(out, percent(sent, length));
  }
}

// Chunks of 4096 bytes; each reports the share before it, so the first is 0.
void chunkProgress(std::vector<HostEvent>& out, uint64_t length) {
  for (uint64_t offset = 0; offset < length; offset += 4096) progress(out, percent(offset, length));
}

}  // namespace

std::vector<HostEvent> expectedConnectEvents() {
  std::vector<HostEvent> out;
  out.push_back({16, 0, ""});
  status(out, 0, "Start DA Connect");
  status(out, 10, "Get DA Version");
  status(out, 20, "Get BB chip type");
  status(out, 30, "Send BootRom & Bootloader version");
  status(out, 40, "Send Chip Select");
  status(out, 50, "Send NFI_ACCCON setting");
  status(out, 60, "Send Clock setting");
  status(out, 70, "Detect NAND Flash");
  status(out, 80, "Nand Flash Report");
  status(out, 90, "Wait for DA to scan flash content");
  status(out, 100, "DA connect complete");
  return out;
}

std::vector<HostEvent> expectedSuccessEvents(const pkgbuild::BuiltPackage& package) {
  const pkgbuild::PackageLayout& layout = package.layout;
  std::vector<HostEvent> out = expectedConnectEvents();

  status(out, 0, "Start Write Bootloader");
  status(out, 0, "Send ext Bootloader");
  packetProgress(out, layout.extBootloader.length);
  packetProgress(out, layout.bootloader.length);
  progress(out, 100);
  status(out, 100, "Write Bootloader Complete");

  status(out, 0, "Start Send NAND image list");
  progress(out, 100);
  status(out, 100, "Send NAND image list complete");

  status(out, 0, "Start Write NFB Image");
  status(out, 0, "Send ROM Image");
  chunkProgress(out, layout.primaryRom.length);
  status(out, 0, "Send Secondary ROM Image");
  chunkProgress(out, layout.secondaryRom.length);
  progress(out, 100);
  status(out, 100, "Write NFB Image Complete");

  const size_t images = std::min<size_t>(layout.fsImages.size(), 4);
  for (size_t i = 0; i < images; ++i) {
    const pkgbuild::FsImageLayout& fs = layout.fsImages[i];
    status(out, 0, "Start Write FS Image");
    if (fs.written) {
      const uint64_t mapped = fs.mappedBlocks.size();
      for (uint64_t d = 0; d < mapped; ++d) progress(out, percent(d, mapped));
      progress(out, 100);
    } else {
      progress(out, 100);
      status(out, 100, "Write FS Image Complete");
    }
  }

  for (int left = 80; left >= 1; --left)
    out.push_back({2, 100, "Waiting for Reset " + std::to_string(left) + " sec.."});
  return out;
}

std::string describe(const std::vector<HostEvent>& events) {
  std::string text;
  for (const HostEvent& e : events)
    text += "  (" + std::to_string(e.code) + ", " + std::to_string(e.value) + ", \"" + e.text + "\")\n";
  return text;
}

}  // namespace hxtest
