#include "formats/fs_image_checks.h"

namespace hx {

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

}  // namespace hx
