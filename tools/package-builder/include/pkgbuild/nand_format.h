#pragma once
// The NAND-level structures a firmware package is made of, written the way the
// phone's flash stores them: raw blocks of pages, each page's data bytes
// followed by its spare bytes. These helpers are what the package builder uses
// to lay out FS info blocks and image headers; hxphone uses them too, to put a
// phone's NAND into a chosen state (an existing info block with remaps, say).
//
// All multi-byte numbers are little-endian.
#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace pkgbuild {

// Geometry of one NAND page size / block size pair.
struct Geometry {
  uint32_t pageSize = 0;       // data bytes per page: 512 or 2048
  uint32_t spareSize = 0;      // 16 for 512-byte pages, 64 otherwise
  uint32_t pagesPerBlock = 0;  // blockDataSize / pageSize
  uint32_t blockDataSize = 0;  // blockKiB * 1024
  uint32_t rawBlockSize = 0;   // pagesPerBlock * (pageSize + spareSize)
  uint32_t blockKiB = 0;

  uint32_t rawPageSize() const { return pageSize + spareSize; }
};

// Geometry for a page size and block size. Throws std::invalid_argument unless
// the page size is 512 or 2048 and the block holds a whole number (>= 2) of pages.
Geometry geometryFor(uint32_t pageSize, uint32_t blockKiB);

// The block KiB the builder uses when a description leaves it 0: 16 for
// 512-byte pages, 128 for 2048-byte pages.
uint32_t defaultBlockKiB(uint32_t pageSize);

// ---- spare bytes -----------------------------------------------------------

// Spare offsets with a meaning to the module.
inline constexpr uint32_t kInfoMarkOffset = 2;      // 0x0F here and 0x0D at 3 mark an FS info page
inline constexpr uint8_t kInfoMarkFirst = 0x0F;
inline constexpr uint8_t kInfoMarkSecond = 0x0D;
inline constexpr uint32_t kProgrammedTagOffset = 4; // always 0x00 in a programmed page's spare

// Fills the spare bytes of a programmed page: bad-block marker bytes (0, 1 for
// 2048-byte pages, 5 for 512-byte pages) and offsets 2, 3 stay 0xFF, offset 4 is
// 0x00 (so the page always reads as programmed: some spare byte differs from
// 0xFF), and the ECC bytes from offset 6 on come from `ecc` (cycled).
void writeProgrammedSpare(std::span<uint8_t> spare, std::span<const uint8_t> ecc);

// True when some spare byte of the page differs from 0xFF: how the module tells
// a programmed page from an erased one.
bool isProgrammedSpare(std::span<const uint8_t> spare);

// ---- FS image header -------------------------------------------------------

inline constexpr uint32_t kFsImageHeaderSize = 48;

struct FsImageHeaderFields {
  uint32_t infoBlocksBefore = 0;  // raw blocks before the FS info block (header + mapping words)
  uint32_t regionCount = 0;
  uint32_t totalBlocks = 0;       // mappedCount + reservedCount
  uint32_t mappedCount = 0;
  uint32_t reservedCount = 0;
  uint32_t eraseStartIndex = 0;
  uint32_t blocksPerRegion = 0;   // mappedCount / regionCount
  uint32_t countersEnd = 0;       // page-data offset just past the eight region counters
  uint16_t pageSize = 0;
  uint16_t blockKiB = 0;

  bool operator==(const FsImageHeaderFields&) const = default;
};

// One mapping entry: region tag and absolute NAND block.
struct BlockRef {
  uint32_t region = 0;
  uint32_t block = 0;
  bool operator==(const BlockRef&) const = default;
};

// Packed mapping word: bits 0..7 region tag, bits 8..31 block.
inline uint32_t packMapWord(BlockRef r) { return (r.region & 0xFFu) | (r.block << 8); }

// The 48 header bytes (the six u16 at 36 are zero).
std::array<uint8_t, kFsImageHeaderSize> encodeFsImageHeader(const FsImageHeaderFields& h);
FsImageHeaderFields decodeFsImageHeader(std::span<const uint8_t, kFsImageHeaderSize> bytes);

// Raw blocks that hold the 48 header bytes and one word per mapped and reserved
// block, rounded up: (blockDataSize + 4 * words + 47) / blockDataSize.
uint32_t headerBlocksFor(const Geometry& g, uint32_t words);

// ---- FsHeader and info block -----------------------------------------------

inline constexpr uint32_t kFsHeaderSize = 512;
inline constexpr uint32_t kFsVolumeSlots = 8;

struct FsVolume {
  uint32_t start = 0;   // NAND byte address
  uint32_t length = 0;  // bytes; 0 ends the list
  bool operator==(const FsVolume&) const = default;
};

struct FsHeaderFields {
  uint32_t infoAreaStart = 0;   // NAND byte address of the info area (the reserved blocks)
  uint32_t infoAreaLength = 0;  // bytes
  std::array<FsVolume, kFsVolumeSlots> volumes{};
  std::array<uint8_t, 3> version{5, 2, 0};
  bool operator==(const FsHeaderFields&) const = default;
};

// 512 bytes: infoAreaStart at 388, infoAreaLength at 392, volume i at
// 396 + 8i / 400 + 8i, version bytes at 460..462, the rest zero.
std::array<uint8_t, kFsHeaderSize> encodeFsHeader(const FsHeaderFields& h);
FsHeaderFields decodeFsHeader(std::span<const uint8_t, kFsHeaderSize> bytes);

// What an FS info block holds.
struct InfoBlockContent {
  FsHeaderFields header;
  uint32_t countersEnd = 0;            // the remap table is bytes [0, countersEnd - 16)
  std::vector<uint16_t> remap;         // entries from byte 0 (missing ones are 0)
  std::array<uint16_t, 8> counters{};  // region counters, tag 0 first
  bool marked = true;                  // false: no page carries the 0x0F 0x0D mark
};

// The page whose last 512 data bytes hold the FsHeader: the first page whose
// end leaves room for the header after the counters, at most the last page.
uint32_t fsHeaderPage(const Geometry& g, uint32_t countersEnd);

// One raw info block: pages 0 .. fsHeaderPage programmed, each with the mark
// 0x0F 0x0D at spare offsets 2 and 3 (when `marked`), the remap table and the
// counters from page-data byte 0, the FsHeader ending the header page's data,
// every other programmed data byte 0, and the remaining pages erased (0xFF).
// Remap entries or counters beyond the block's page data are left out.
std::vector<uint8_t> makeInfoBlock(const Geometry& g, const InfoBlockContent& c);

}  // namespace pkgbuild
