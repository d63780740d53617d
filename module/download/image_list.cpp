#include "download/image_list.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "formats/rom_info.h"
#include "protocol/agent_commands.h"
#include "protocol/session_report.h"

namespace hx {
namespace {

constexpr uint32_t kFirstRomInfoBlock = 2;
constexpr uint32_t kLastRomInfoBlock = 9;
// Blocks larger than this are no NAND the module knows; refused before allocating.
constexpr uint32_t kMaxBlockDataSize = 4u << 20;

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
  const ByteRange record{*marker, *marker + recordSize - 1};

  // The secondary image's address counts from the byte after the primary image.
  const ByteRange primaryBytes{primary.address, primary.address + primary.length - 1};
  const uint32_t secondaryStart = primaryBytes.last + 1 + secondary.address;
  const ByteRange secondaryBytes{secondaryStart, secondaryStart + secondary.length - 1};
  if (const int rc = sendImageListRanges(link, record, primaryBytes, secondaryBytes); rc != 0) return rc;

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
