#pragma once
// The FsHeader: the 512 bytes that end the page data of the last marked page
// of an FS info block, and the tests made on it.
#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "formats/page_split.h"
#include "formats/image_buffer.h"

namespace hx {

inline constexpr uint32_t kFsHeaderSize = 512;
inline constexpr uint32_t kFsVolumeCount = 8;

struct FsHeader {
  std::array<uint8_t, kFsHeaderSize> bytes{};

  uint32_t infoAreaStart() const;   // byte address in NAND (offset 388)
  uint32_t infoAreaLength() const;  // bytes (offset 392)
  uint32_t volumeStart(uint32_t volume) const;   // offset 396 + 8 i
  uint32_t volumeLength(uint32_t volume) const;  // offset 400 + 8 i; 0 = empty
  std::array<uint8_t, 3> version() const;        // offsets 460..462
};

// Searches the pages of a split block from the last one down for spare bytes
// 2 and 3 equal to 0x0F and 0x0D and returns the 512 data bytes that end that
// page. Nothing when no page is marked or the split does not fit `geometry`.
std::optional<FsHeader> findFsHeader(const PageSplit& block, const NandGeometry& geometry);

// The same search over a raw block (page data and spare bytes interleaved).
std::optional<FsHeader> findFsHeaderInRawBlock(std::span<const uint8_t> rawBlock, const NandGeometry& geometry);

// Version bytes 5, 2, 0.
bool isFsVersion520(const FsHeader& header);
bool sameFsVersion(const FsHeader& a, const FsHeader& b);
// Info area and all eight volume starts and lengths equal.
bool sameFsLayout(const FsHeader& a, const FsHeader& b);

// The phone's RomInfo (352 bytes) declares an FS area with at least two area
// entries, a non-zero FS area length and the format tag "05200001", and every
// non-empty volume of `header` lies inside that FS area.
bool fsAreaFits(const uint8_t* romInfo, const FsHeader& header);

}  // namespace hx
