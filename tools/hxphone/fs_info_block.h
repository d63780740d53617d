#pragma once
// Reading FS info blocks on the phone's NAND: the 0x0F 0x0D mark of page 0,
// the FsHeader in the last marked page, the remap table and region counters.
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "hxphone/nand_model.h"
#include "pkgbuild/nand_format.h"

namespace hxphone {

pkgbuild::Geometry builderGeometry(const NandGeometry& g);

// The FsHeader of a raw block whose page 0 carries the info mark, if any.
std::optional<pkgbuild::FsHeaderFields> infoBlockHeader(std::span<const uint8_t> raw, const NandGeometry& g);

// The raw block's page data, pages one after another.
std::vector<uint8_t> pageDataOf(std::span<const uint8_t> raw, const NandGeometry& g);

// Good, marked blocks of [areaStart, areaStart + areaLength) holding an FsHeader.
std::vector<uint32_t> infoBlocksIn(const NandModel& nand, uint64_t areaStart, uint64_t areaLength);

}  // namespace hxphone
