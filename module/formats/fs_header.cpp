#include "formats/fs_header.h"

#include <algorithm>
#include <cstring>

#include "formats/block_marks.h"
#include "formats/little_endian.h"
#include "formats/rom_info.h"

namespace hx {

namespace {

constexpr uint32_t kInfoAreaStartOffset = 388;
constexpr uint32_t kInfoAreaLengthOffset = 392;
constexpr uint32_t kVolumeTableOffset = 396;
constexpr uint32_t kVersionOffset = 460;

// The search of both forms: `spareOf(p)` and `dataEndOf(p)` give the position
// of page p's spare bytes and the end of its data.
template <typename SpareOf, typename DataEndOf>
std::optional<FsHeader> searchMarkedPage(const NandGeometry& geometry, SpareOf spareOf, DataEndOf dataEndOf) {
  if (geometry.pageSize < kFsHeaderSize || geometry.spareSize < 4) return std::nullopt;
  for (uint32_t p = geometry.pagesPerBlock(); p-- > 0;) {
    const uint8_t* spare = spareOf(p);
    if (spare[2] == kInfoMarkByte2 && spare[3] == kInfoMarkByte3) {
      FsHeader header;
      std::memcpy(header.bytes.data(), dataEndOf(p) - kFsHeaderSize, kFsHeaderSize);
      return header;
    }
  }
  return std::nullopt;
}

}  // namespace

uint32_t FsHeader::infoAreaStart() const { return loadLe32(bytes.data() + kInfoAreaStartOffset); }
uint32_t FsHeader::infoAreaLength() const { return loadLe32(bytes.data() + kInfoAreaLengthOffset); }
uint32_t FsHeader::volumeStart(uint32_t volume) const {
  return volume < kFsVolumeCount ? loadLe32(bytes.data() + kVolumeTableOffset + 8 * volume) : 0;
}
uint32_t FsHeader::volumeLength(uint32_t volume) const {
  return volume < kFsVolumeCount ? loadLe32(bytes.data() + kVolumeTableOffset + 8 * volume + 4) : 0;
}
std::array<uint8_t, 3> FsHeader::version() const {
  return {bytes[kVersionOffset], bytes[kVersionOffset + 1], bytes[kVersionOffset + 2]};
}

std::optional<FsHeader> findFsHeader(const PageSplit& block, const NandGeometry& geometry) {
  const uint64_t pages = geometry.pagesPerBlock();
  if (!block.data || !block.spare || block.data->size() < pages * geometry.pageSize ||
      block.spare->size() < pages * geometry.spareSize) {
    return std::nullopt;
  }
  return searchMarkedPage(
      geometry, [&](uint32_t p) { return block.spare->data() + uint64_t{p} * geometry.spareSize; },
      [&](uint32_t p) { return block.data->data() + (uint64_t{p} + 1) * geometry.pageSize; });
}

std::optional<FsHeader> findFsHeaderInRawBlock(std::span<const uint8_t> rawBlock, const NandGeometry& geometry) {
  const uint64_t rawPage = uint64_t{geometry.pageSize} + geometry.spareSize;
  if (rawBlock.size() < geometry.pagesPerBlock() * rawPage) return std::nullopt;
  return searchMarkedPage(
      geometry, [&](uint32_t p) { return rawBlock.data() + p * rawPage + geometry.pageSize; },
      [&](uint32_t p) { return rawBlock.data() + p * rawPage + geometry.pageSize; });
}

bool isFsVersion520(const FsHeader& header) { return header.version() == std::array<uint8_t, 3>{5, 2, 0}; }

bool sameFsVersion(const FsHeader& a, const FsHeader& b) { return a.version() == b.version(); }

bool sameFsLayout(const FsHeader& a, const FsHeader& b) {
  const auto layoutBegin = kInfoAreaStartOffset;
  const auto layoutEnd = kVolumeTableOffset + 8 * kFsVolumeCount;
  return std::equal(a.bytes.begin() + layoutBegin, a.bytes.begin() + layoutEnd, b.bytes.begin() + layoutBegin);
}

bool fsAreaFits(const uint8_t* romInfo, const FsHeader& header) {
  if (romInfoAreaCount(romInfo) < 2 || romInfoFsAreaLength(romInfo) == 0 || !romInfoHasFsFormatTag(romInfo)) {
    return false;
  }
  const uint64_t areaStart = romInfoFsAreaStart(romInfo);
  const uint64_t areaEnd = areaStart + romInfoFsAreaLength(romInfo);
  for (uint32_t i = 0; i < kFsVolumeCount; ++i) {
    const uint64_t length = header.volumeLength(i);
    if (length == 0) continue;
    const uint64_t start = header.volumeStart(i);
    if (start < areaStart || start + length > areaEnd) return false;
  }
  return true;
}

}  // namespace hx
