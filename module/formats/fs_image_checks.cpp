#include "formats/fs_image_checks.h"

#include <set>

#include "formats/agent_transfer_framing.h"

namespace hx {
namespace {

std::string geometryText(const FsImageHeader& header) {
  return "page size " + std::to_string(header.pageSize) + ", " + std::to_string(header.blockKiB) + " KiB blocks: " +
         std::to_string(header.geometry.pagesPerBlock()) + " pages per block";
}

}  // namespace

std::string fsImageProblemForBase(const FsImageHeader& header, uint32_t base) {
  const auto& mapped = header.table.mappedBlocks();
  for (const auto& entry : mapped) {
    if (entry.block < base) {
      return "mapped block " + std::to_string(entry.block) + " below the FS area start block " + std::to_string(base);
    }
  }
  for (const auto& entry : header.table.reservedBlocks()) {
    if (entry.block <= base) {
      return "reserved block " + std::to_string(entry.block) + " at or below the FS area start block " +
             std::to_string(base);
    }
  }
  for (const auto* list : {&mapped, &header.table.reservedBlocks()}) {
    for (const auto& entry : *list) {
      if (entry.region >= kRegionCounterCount) {
        return "region tag " + std::to_string(entry.region) + " of block " + std::to_string(entry.block) +
               " has no counter in the info block";
      }
    }
  }
  if (mapped.empty()) return "no data blocks";
  const uint64_t remapEnd = (uint64_t{mapped.front().block} - base + mapped.size()) * 2;
  if (remapEnd > header.geometry.blockDataSize) return "remap entries reach past the info block's page data";
  return {};
}

std::string fsMappingTableProblem(const FsImageHeader& header) {
  std::set<uint32_t> dataBlocks;
  for (const BlockMapEntry& entry : header.table.mappedBlocks())
    if (!dataBlocks.insert(entry.block).second)
      return "data block " + std::to_string(entry.block) + " is named twice in the mapping table";
  for (const BlockMapEntry& entry : header.table.reservedBlocks())
    if (dataBlocks.count(entry.block) != 0)
      return "block " + std::to_string(entry.block) + " is named both as a data block and as a spare";
  return {};
}

std::string fsGeometryProblem(const FsImageHeader& header) {
  const NandGeometry& g = header.geometry;
  const uint32_t perPacket = pagesPerBlockPacket(g.pageSize, g.spareSize);
  if (perPacket == 0)
    return "its geometry (" + geometryText(header) + ") cannot be written: write-block takes pages of 512 or 2048 bytes";
  if (!blockWritesCanFrame(g.pageSize, g.spareSize, g.pagesPerBlock()))
    return "its geometry (" + geometryText(header) + ") cannot be written: write-block sends whole packets of " +
           std::to_string(perPacket) + " pages";
  if (!readBackCanAddressBlocks(g.blockDataSize))
    return "its geometry (" + geometryText(header) + ") cannot be read back: a block of " +
           std::to_string(g.blockDataSize) + " bytes is not a whole number of read-back units";
  return {};
}

std::string fsInfoAreaProblem(const FsHeader& fsHeader) {
  const uint64_t start = fsHeader.infoAreaStart(), length = fsHeader.infoAreaLength();
  if (start % kReadBackAddressAlignment != 0 || length % kReadBackAddressAlignment != 0)
    return "its info area (" + std::to_string(start) + " + " + std::to_string(length) +
           ") is not on 2 KiB boundaries";
  if (start + length > uint64_t{UINT32_MAX} + 1) return "its info area reaches past 4 GiB";
  return {};
}

}  // namespace hx
