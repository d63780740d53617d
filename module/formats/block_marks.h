#pragma once
// What the spare bytes of a NAND block say about it: bad-block markers, the FS
// info block mark, and which pages were programmed.
#include <cstdint>
#include <span>
#include <vector>

namespace hx {

// Spare bytes 2 and 3 of the page that marks an FS info block (and carries the
// FsHeader at the end of its data).
inline constexpr uint8_t kInfoMarkByte2 = 0x0F;
inline constexpr uint8_t kInfoMarkByte3 = 0x0D;

// True when a marker byte of the raw block (read back with spare bytes) has
// fewer than 7 of its 8 bits set. 512-byte pages: spare byte 5 of pages 0 and
// 1; 2048-byte pages: spare bytes 0 and 1 of pages 0 and 1; other page sizes
// are never bad. Marker bytes past the end of `rawBlock` are not looked at.
bool isBadBlockMarked(std::span<const uint8_t> rawBlock, uint32_t pageSize, uint32_t spareSize);

// True when page 0's spare bytes 2 and 3 are 0x0F and 0x0D.
bool isInfoBlockMarked(std::span<const uint8_t> rawBlock, uint32_t pageSize);

// Ascending indices of the pages whose spare bytes are not all 0xFF.
std::vector<uint32_t> programmedPages(std::span<const uint8_t> spare, uint32_t spareSize, uint32_t pagesPerBlock);

}  // namespace hx
