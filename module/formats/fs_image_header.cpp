#include "formats/fs_image_header.h"

#include "formats/little_endian.h"

namespace hx {

NandGeometry fsImageGeometry(uint16_t pageSize, uint16_t blockKiB) {
  NandGeometry geometry;
  if (pageSize == 0) return geometry;
  geometry.pageSize = pageSize;
  geometry.spareSize = pageSize == 512 ? 16 : pageSize == 2048 ? 64 : pageSize;
  const uint32_t pages = blockKiB * 1024u / pageSize;
  geometry.rawBlockSize = pages * (geometry.pageSize + geometry.spareSize);
  geometry.blockDataSize = geometry.pageSize * pages;
  return geometry;
}

namespace {

bool refuse(std::string* problem, std::string reason) {
  if (problem) *problem = std::move(reason);
  return false;
}

void readFields(const uint8_t* p, FsImageHeader& h) {
  h.infoBlocksBefore = loadLe32(p + kFsInfoBlocksBeforeOffset);
  h.regionCount = loadLe32(p + kFsRegionCountOffset);
  h.totalBlocks = loadLe32(p + kFsTotalBlocksOffset);
  h.mappedCount = loadLe32(p + kFsMappedCountOffset);
  h.reservedCount = loadLe32(p + kFsReservedCountOffset);
  h.eraseStartIndex = loadLe32(p + kFsEraseStartIndexOffset);
  h.blocksPerRegion = loadLe32(p + kFsBlocksPerRegionOffset);
  h.countersEnd = loadLe32(p + kFsCountersEndOffset);
  h.pageSize = loadLe16(p + kFsPageSizeOffset);
  h.blockKiB = loadLe16(p + kFsBlockKiBOffset);
}

}  // namespace

bool readFsImageFields(std::span<const uint8_t> image, FsImageHeader& header, std::string* problem) {
  if (image.size() < kFsImageHeaderSize) return refuse(problem, "shorter than its 48-byte header");
  FsImageHeader h;
  readFields(image.data(), h);
  h.geometry = fsImageGeometry(h.pageSize, h.blockKiB);
  if (h.pageSize < kFsHeaderSize || h.geometry.pagesPerBlock() == 0) {
    return refuse(problem, "unusable geometry (page size " + std::to_string(h.pageSize) + ", block " +
                               std::to_string(h.blockKiB) + " KiB)");
  }
  if ((uint64_t{h.infoBlocksBefore} + 1) * h.geometry.rawBlockSize > image.size()) {
    return refuse(problem, "its info block (raw block " + std::to_string(h.infoBlocksBefore) +
                               ") lies past the end of the image");
  }
  header = std::move(h);
  return true;
}

bool parseFsImageHeader(std::span<const uint8_t> image, FsImageHeader& header, std::string* problem) {
  FsImageHeader h;
  if (!readFsImageFields(image, h, problem)) return false;
  if (h.mappedCount == 0) return refuse(problem, "declares no data blocks");
  const uint64_t words = uint64_t{h.mappedCount} + h.reservedCount;
  if (kFsImageHeaderSize + 4 * words > image.size()) {
    return refuse(problem, "declares more mapping words than it holds");
  }
  const uint64_t blocksNeeded = uint64_t{h.infoBlocksBefore} + 1 + h.mappedCount;
  if (blocksNeeded * h.geometry.rawBlockSize > image.size()) {
    return refuse(problem, "shorter than its header declares (" + std::to_string(blocksNeeded) + " blocks of " +
                               std::to_string(h.geometry.rawBlockSize) + " bytes)");
  }
  if (uint64_t{h.eraseStartIndex} + h.reservedCount > words) {
    return refuse(problem, "erase start index past the mapping table");
  }
  if (h.countersEnd < 2 * kRegionCounterCount || h.countersEnd > h.geometry.blockDataSize) {
    return refuse(problem, "region counters end at " + std::to_string(h.countersEnd) +
                               ", outside the info block's page data");
  }
  h.table.loadFromWords(image.subspan(kFsImageHeaderSize), h.mappedCount, h.reservedCount);
  header = std::move(h);
  return true;
}

std::span<const uint8_t> fsInfoBlock(std::span<const uint8_t> image, const FsImageHeader& header) {
  return image.subspan(uint64_t{header.infoBlocksBefore} * header.geometry.rawBlockSize,
                       header.geometry.rawBlockSize);
}

std::span<const uint8_t> fsDataBlock(std::span<const uint8_t> image, const FsImageHeader& header, uint32_t index) {
  return image.subspan((uint64_t{header.infoBlocksBefore} + 1 + index) * header.geometry.rawBlockSize,
                       header.geometry.rawBlockSize);
}

}  // namespace hx
