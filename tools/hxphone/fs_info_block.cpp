#include "hxphone/fs_info_block.h"

namespace hxphone {

pkgbuild::Geometry builderGeometry(const NandGeometry& g) {
  return pkgbuild::geometryFor(g.pageSize, g.blockDataSize() / 1024);
}

std::optional<pkgbuild::FsHeaderFields> infoBlockHeader(std::span<const uint8_t> raw, const NandGeometry& g) {
  auto marked = [&](uint32_t page) {
    const uint8_t* spare = raw.data() + size_t{page} * g.rawPageSize() + g.pageSize;
    return spare[pkgbuild::kInfoMarkOffset] == pkgbuild::kInfoMarkFirst &&
           spare[pkgbuild::kInfoMarkOffset + 1] == pkgbuild::kInfoMarkSecond;
  };
  if (raw.size() != g.rawBlockSize() || !marked(0) || NandModel::rawBlockMarkedBad(raw, g)) return std::nullopt;
  for (uint32_t p = g.pagesPerBlock; p-- > 0;) {
    if (!marked(p)) continue;
    const uint8_t* end = raw.data() + size_t{p} * g.rawPageSize() + g.pageSize;
    std::span<const uint8_t, pkgbuild::kFsHeaderSize> header(end - pkgbuild::kFsHeaderSize, pkgbuild::kFsHeaderSize);
    return pkgbuild::decodeFsHeader(header);
  }
  return std::nullopt;
}

std::vector<uint8_t> pageDataOf(std::span<const uint8_t> raw, const NandGeometry& g) {
  std::vector<uint8_t> data;
  data.reserve(g.blockDataSize());
  for (uint32_t p = 0; p < g.pagesPerBlock; ++p) {
    const uint8_t* page = raw.data() + size_t{p} * g.rawPageSize();
    data.insert(data.end(), page, page + g.pageSize);
  }
  return data;
}

std::vector<uint32_t> infoBlocksIn(const NandModel& nand, uint64_t areaStart, uint64_t areaLength) {
  const NandGeometry& g = nand.geometry();
  std::vector<uint32_t> found;
  for (uint64_t addr = areaStart; addr + g.blockDataSize() <= areaStart + areaLength; addr += g.blockDataSize()) {
    uint64_t block = addr / g.blockDataSize();
    if (block >= g.blockCount) break;
    if (infoBlockHeader(nand.rawBlock(static_cast<uint32_t>(block)), g)) found.push_back(static_cast<uint32_t>(block));
  }
  return found;
}

}  // namespace hxphone
