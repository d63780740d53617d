#include "download/image_list.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/rom_info.h"
#include "protocol/agent_wire.h"
#include "protocol/session_report.h"
#include "link/link_ops.h"

namespace hx {
namespace {

constexpr uint8_t kListCommand[] = {0xDD, 0xA5, 0xA5, 0xA5, 0x02, 0x02};
constexpr uint8_t kListEntry = 0x01;
constexpr uint32_t kFirstRomInfoBlock = 2;
constexpr uint32_t kLastRomInfoBlock = 9;
// Blocks larger than this are no NAND the module knows; refused before allocating.
constexpr uint32_t kMaxBlockDataSize = 4u << 20;

bool sendRange(Link& link, uint32_t first, uint32_t last) {
  uint8_t frame[8];
  putU32(putU32(frame, first), last);
  return writeBytes(link, frame, sizeof frame) == kLinkOk;
}

bool sendEntry(Link& link, uint32_t start, uint32_t end) {
  uint8_t frame[17] = {kListEntry};
  putU32(putU32(putU32(putU32(frame + 1, start), end), 0), 1);
  return writeBytes(link, frame, sizeof frame) == kLinkOk && readAcknowledgement(link);
}

std::span<const uint8_t> bytesOf(const ImageBuffer& image) {
  return image.data ? std::span<const uint8_t>(image.data, image.length) : std::span<const uint8_t>();
}

}  // namespace

int sendNandImageList(Link& link, const ImageBuffer& primary, const ImageBuffer& secondary, SessionReport& report) {
  report.step(0, "Start Send NAND image list");
  const std::span<const uint8_t> rom = bytesOf(primary);
  const std::optional<uint32_t> marker = findRomInfoMarker(rom);
  if (!marker) return kImageListFailed;
  const uint32_t recordSize = romInfoSizeForVersion(romInfoVersion(rom.subspan(*marker)));

  if (writeBytes(link, kListCommand, sizeof kListCommand) != kLinkOk) return kImageListFailed;
  if (!sendRange(link, *marker, *marker + recordSize - 1) || !readAcknowledgement(link)) return kImageListFailed;

  const uint32_t primaryStart = primary.address;
  const uint32_t primaryEnd = primaryStart + primary.length - 1;
  const uint32_t secondaryStart = primaryEnd + 1 + secondary.address;
  const uint32_t secondaryEnd = secondaryStart + secondary.length - 1;
  if (!sendEntry(link, primaryStart, primaryEnd) || !sendEntry(link, secondaryStart, secondaryEnd))
    return kImageListFailed;

  report.progress(100);
  report.step(100, "Send NAND image list complete");
  return 0;
}

bool readPhoneRomInfo(NandAgent& agent, uint32_t blockDataSize, uint8_t* dest) {
  if (blockDataSize == 0 || blockDataSize > kMaxBlockDataSize) return false;
  std::vector<uint8_t> block(blockDataSize);
  for (uint32_t k = kFirstRomInfoBlock; k <= kLastRomInfoBlock; ++k) {
    if (agent.readBack(k * blockDataSize, blockDataSize, kReadBackDataOnly, block.data(), block.size()) != 0)
      return false;
    const std::optional<uint32_t> marker = findRomInfoMarker(block);
    if (!marker) continue;
    const size_t n = std::min<size_t>(kRomInfoRecordMax, block.size() - *marker);
    std::memset(dest, 0, kRomInfoRecordMax);
    std::memcpy(dest, block.data() + *marker, n);
    return true;
  }
  return false;
}


}  // namespace hx
