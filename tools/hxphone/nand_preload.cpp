#include "hxphone/nand_preload.h"

#include <map>
#include <set>
#include <stdexcept>

#include "hxphone/flash_layout.h"
#include "hxphone/fs_info_block.h"

namespace hxphone {

namespace {

constexpr uint64_t kOlderFirmwareSeed = 0x0D0F1A3E5C7B9D11ULL;

void storeImages(NandModel& nand, const pkgbuild::BuiltPackage& older) {
  BlockExtent bl = storePageData(nand, kBootloaderFirstBlock, older.bootloader());
  BlockExtent ex = storePageData(nand, bl.end, older.extBootloader());
  storePageData(nand, primaryRomFirstBlock(ex.end), romArea(older.primaryRom(), older.secondaryRom()));
}

uint32_t oldInfoBlockFor(const pkgbuild::FsImageLayout& image, const std::set<uint32_t>& taken) {
  for (auto it = image.reservedBlocks.rbegin(); it != image.reservedBlocks.rend(); ++it)
    if (it->region == 0 && !taken.count(it->block)) return it->block;
  throw std::invalid_argument("the FS image has no free region-0 reserved block for an info block");
}

}  // namespace

NandModel preloadOlderFirmware(const PhoneOptions& options, const pkgbuild::PackageRecipe& recipe,
                               const OlderFirmware& firmware, PreloadedState* state) {
  const std::vector<PreloadRemap>& remaps = firmware.remaps;
  for (const auto& [region, counter] : firmware.counters)
    if (region >= 8) throw std::invalid_argument("region tag " + std::to_string(region) + " has no counter (0..7)");
  pkgbuild::PackageRecipe olderRecipe = recipe;
  olderRecipe.seed ^= kOlderFirmwareSeed;
  pkgbuild::BuiltPackage older = pkgbuild::build(olderRecipe);
  NandModel nand = freshNand(options);
  const NandGeometry& g = nand.geometry();
  if (older.layout.geometry.pageSize != g.pageSize || older.layout.geometry.blockDataSize != g.blockDataSize())
    throw std::invalid_argument("the package's NAND geometry differs from the phone's");
  storeImages(nand, older);

  const auto& images = older.layout.fsImages;
  const uint32_t base = static_cast<uint32_t>(older.layout.fsAreaStart / g.blockDataSize());
  // One info block per info area, shared by the images that name it.
  std::map<std::pair<uint32_t, uint32_t>, pkgbuild::InfoBlockContent> infoAreas;
  std::map<std::pair<uint32_t, uint32_t>, size_t> firstImage;
  std::set<uint32_t> spares;
  for (const auto& r : remaps) spares.insert(r.spare);
  for (size_t k = 0; k < images.size(); ++k) {
    const auto& image = images[k];
    if (!image.written) continue;
    auto key = std::make_pair(image.fsHeader.infoAreaStart, image.fsHeader.infoAreaLength);
    if (!infoAreas.count(key)) {
      pkgbuild::InfoBlockContent c;
      c.header = image.fsHeader;
      if (!firmware.sameVersion) c.header.version = {5, 1, 0};
      c.countersEnd = image.header.countersEnd;
      c.remap.assign(c.countersEnd >= 16 ? (c.countersEnd - 16) / 2 : 0, 0);
      infoAreas[key] = c;
      firstImage[key] = k;
    }
    auto& content = infoAreas[key];
    const int64_t offset0 = int64_t{image.mappedBlocks.front().block} - base;
    for (size_t d = 0; d < image.mappedBlocks.size(); ++d) {
      const auto& mapped = image.mappedBlocks[d];
      uint32_t target = mapped.block;
      for (const auto& r : remaps) {
        if (k != 0 || r.dataBlock != d) continue;
        bool spareOfRegion = false;
        for (const auto& s : image.reservedBlocks) spareOfRegion |= s.block == r.spare && s.region == mapped.region;
        if (!spareOfRegion || r.spare < base)
          throw std::invalid_argument("block " + std::to_string(r.spare) + " is not a reserved block of data block " +
                                      std::to_string(d) + "'s region");
        target = r.spare;
        int64_t index = offset0 + static_cast<int64_t>(d);
        if (index < 0 || static_cast<size_t>(index) >= content.remap.size())
          throw std::invalid_argument("the remap entry lies outside the info block");
        content.remap[static_cast<size_t>(index)] = static_cast<uint16_t>(r.spare - base);
        uint16_t& counter = content.counters[mapped.region & 7];
        counter = std::max<uint16_t>(counter, static_cast<uint16_t>(r.spare - base + 1));
      }
      auto raw = older.fsDataBlock(k, d);
      nand.storeRawBlock(target, raw);
      if (target != mapped.block) nand.markFactoryBad(mapped.block);
    }
  }
  for (auto& [key, content] : infoAreas) {
    for (const auto& [region, counter] : firmware.counters) content.counters[region] = counter;
    uint32_t block = oldInfoBlockFor(images[firstImage[key]], spares);
    nand.storeRawBlock(block, pkgbuild::makeInfoBlock(builderGeometry(g), content));
    if (state) state->oldInfoBlocks.push_back(block);
  }
  return nand;
}

NandModel preloadedNand(const PhoneOptions& options, const PreloadRequest& request) {
  pkgbuild::PackageRecipe recipe = pkgbuild::readRecipe(pkgbuild::descPathFor(request.packagePath));
  return preloadOlderFirmware(options, recipe, request.firmware);
}

}  // namespace hxphone
