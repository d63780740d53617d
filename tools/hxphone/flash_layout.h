#pragma once
// Where the phone keeps what the host sends, as a real agent does: the
// bootloader from block 0 and the ext bootloader from the first good block
// after it; the ROM area from block 2 (or from the first block after the
// bootloaders, should they need more than blocks 0 and 1). The ROM area is
// the byte range the NAND image list announces: the primary ROM image from
// offset 0, the secondary from the primary's end + 0x4000, erased between. Images are
// stored as page data only (spare bytes stay erased), skipping bad blocks; a
// block that fails while programmed is marked bad and skipped too. The FS area
// is written block by block where the host's write commands say.
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "hxphone/nand_model.h"

namespace hxphone {

inline constexpr uint32_t kBootloaderFirstBlock = 0;
inline constexpr uint32_t kPrimaryRomFirstBlock = 2;

// Blocks [first, end) that an image occupies, bad blocks among them included.
struct BlockExtent {
  uint32_t first = 0;
  uint32_t end = 0;
};

// Erases and programs the image's bytes page by page from the first good
// block at or after firstBlock; the last page is padded with 0xFF. Throws
// std::out_of_range when the device ends first.
BlockExtent storePageData(NandModel& nand, uint32_t firstBlock, std::span<const uint8_t> bytes);

// Reads length bytes of page data stored the same way, skipping bad blocks.
// Throws std::out_of_range when the device ends first.
std::vector<uint8_t> loadPageData(const NandModel& nand, uint32_t firstBlock, size_t length, BlockExtent* extent);

inline constexpr uint32_t kSecondaryRomGap = 0x4000;
inline uint32_t romSecondaryOffset(uint32_t primaryLength) { return primaryLength + kSecondaryRomGap; }
// The ROM area's bytes: primary, 0xFF gap, secondary.
std::vector<uint8_t> romArea(std::span<const uint8_t> primary, std::span<const uint8_t> secondary);

// The first block of the primary ROM image when the bootloaders end before `bootloadersEnd`.
inline uint32_t primaryRomFirstBlock(uint32_t bootloadersEnd) {
  return bootloadersEnd > kPrimaryRomFirstBlock ? bootloadersEnd : kPrimaryRomFirstBlock;
}

}  // namespace hxphone
