#include "pkgbuild/nand_format.h"

#include <algorithm>
#include <stdexcept>
#include <string>

#include "le_bytes.h"

namespace pkgbuild {

using detail::getLe16;
using detail::getLe32;
using detail::putLe16;
using detail::putLe32;

uint32_t defaultBlockKiB(uint32_t pageSize) { return pageSize == 512 ? 16 : 128; }

Geometry geometryFor(uint32_t pageSize, uint32_t blockKiB) {
  if (pageSize != 512 && pageSize != 2048)
    throw std::invalid_argument("page size must be 512 or 2048, not " + std::to_string(pageSize));
  if (blockKiB == 0 || blockKiB > 65535 || (blockKiB * 1024u) % pageSize != 0 ||
      blockKiB * 1024u / pageSize < 2)
    throw std::invalid_argument("block KiB " + std::to_string(blockKiB) +
                                " is not a whole number of at least two pages");
  Geometry g;
  g.pageSize = pageSize;
  g.spareSize = pageSize == 512 ? 16 : 64;
  g.blockKiB = blockKiB;
  g.blockDataSize = blockKiB * 1024u;
  g.pagesPerBlock = g.blockDataSize / pageSize;
  g.rawBlockSize = g.pagesPerBlock * (pageSize + g.spareSize);
  return g;
}

void writeProgrammedSpare(std::span<uint8_t> spare, std::span<const uint8_t> ecc) {
  std::fill(spare.begin(), spare.end(), 0xFF);
  if (spare.size() > kProgrammedTagOffset) spare[kProgrammedTagOffset] = 0x00;
  if (ecc.empty()) return;
  for (size_t i = 6; i < spare.size(); ++i) spare[i] = ecc[(i - 6) % ecc.size()];
}

bool isProgrammedSpare(std::span<const uint8_t> spare) {
  return std::any_of(spare.begin(), spare.end(), [](uint8_t b) { return b != 0xFF; });
}

std::array<uint8_t, kFsImageHeaderSize> encodeFsImageHeader(const FsImageHeaderFields& h) {
  std::array<uint8_t, kFsImageHeaderSize> b{};
  putLe32(&b[0], h.infoBlocksBefore);
  putLe32(&b[4], h.regionCount);
  putLe32(&b[8], h.totalBlocks);
  putLe32(&b[12], h.mappedCount);
  putLe32(&b[16], h.reservedCount);
  putLe32(&b[20], h.eraseStartIndex);
  putLe32(&b[24], h.blocksPerRegion);
  putLe32(&b[28], h.countersEnd);
  putLe16(&b[32], h.pageSize);
  putLe16(&b[34], h.blockKiB);
  return b;
}

FsImageHeaderFields decodeFsImageHeader(std::span<const uint8_t, kFsImageHeaderSize> b) {
  FsImageHeaderFields h;
  h.infoBlocksBefore = getLe32(&b[0]);
  h.regionCount = getLe32(&b[4]);
  h.totalBlocks = getLe32(&b[8]);
  h.mappedCount = getLe32(&b[12]);
  h.reservedCount = getLe32(&b[16]);
  h.eraseStartIndex = getLe32(&b[20]);
  h.blocksPerRegion = getLe32(&b[24]);
  h.countersEnd = getLe32(&b[28]);
  h.pageSize = getLe16(&b[32]);
  h.blockKiB = getLe16(&b[34]);
  return h;
}

uint32_t headerBlocksFor(const Geometry& g, uint32_t words) {
  const uint64_t bytes = uint64_t{g.blockDataSize} + 4ull * words + kFsImageHeaderSize - 1;
  return static_cast<uint32_t>(bytes / g.blockDataSize);
}

std::array<uint8_t, kFsHeaderSize> encodeFsHeader(const FsHeaderFields& h) {
  std::array<uint8_t, kFsHeaderSize> b{};
  putLe32(&b[388], h.infoAreaStart);
  putLe32(&b[392], h.infoAreaLength);
  for (uint32_t i = 0; i < kFsVolumeSlots; ++i) {
    putLe32(&b[396 + 8 * i], h.volumes[i].start);
    putLe32(&b[400 + 8 * i], h.volumes[i].length);
  }
  b[460] = h.version[0];
  b[461] = h.version[1];
  b[462] = h.version[2];
  return b;
}

FsHeaderFields decodeFsHeader(std::span<const uint8_t, kFsHeaderSize> b) {
  FsHeaderFields h;
  h.infoAreaStart = getLe32(&b[388]);
  h.infoAreaLength = getLe32(&b[392]);
  for (uint32_t i = 0; i < kFsVolumeSlots; ++i)
    h.volumes[i] = {getLe32(&b[396 + 8 * i]), getLe32(&b[400 + 8 * i])};
  h.version = {b[460], b[461], b[462]};
  return h;
}

uint32_t fsHeaderPage(const Geometry& g, uint32_t countersEnd) {
  // Smallest page p with (p + 1) * pageSize - 512 >= countersEnd.
  const uint64_t needed = uint64_t{countersEnd} + kFsHeaderSize;
  const uint64_t page = (needed + g.pageSize - 1) / g.pageSize;
  return static_cast<uint32_t>(std::clamp<uint64_t>(page, 1, g.pagesPerBlock) - 1);
}

std::vector<uint8_t> makeInfoBlock(const Geometry& g, const InfoBlockContent& c) {
  std::vector<uint8_t> raw(g.rawBlockSize, 0xFF);
  const uint32_t headerPage = fsHeaderPage(g, c.countersEnd);

  // Page data of the programmed pages, assembled first, then spread over pages.
  std::vector<uint8_t> data(size_t{headerPage + 1} * g.pageSize, 0x00);
  for (size_t i = 0; i < c.remap.size() && 2 * i + 2 <= data.size(); ++i)
    if (c.countersEnd >= 16 && 2 * i + 2 <= c.countersEnd - 16) putLe16(&data[2 * i], c.remap[i]);
  if (c.countersEnd >= 16) {
    for (uint32_t r = 0; r < 8; ++r) {
      const uint64_t at = uint64_t{c.countersEnd} - 16 + 2 * r;
      if (at + 2 <= data.size()) putLe16(&data[at], c.counters[r]);
    }
  }
  const auto header = encodeFsHeader(c.header);
  std::copy(header.begin(), header.end(), data.end() - kFsHeaderSize);

  for (uint32_t p = 0; p <= headerPage; ++p) {
    uint8_t* page = raw.data() + size_t{p} * g.rawPageSize();
    std::copy_n(data.begin() + size_t{p} * g.pageSize, g.pageSize, page);
    std::span<uint8_t> spare(page + g.pageSize, g.spareSize);
    writeProgrammedSpare(spare, {});
    if (c.marked) {
      spare[kInfoMarkOffset] = kInfoMarkFirst;
      spare[kInfoMarkOffset + 1] = kInfoMarkSecond;
    }
  }
  return raw;
}

}  // namespace pkgbuild
