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

// An info area: its start and length as the FsHeader gives them.
using InfoArea = std::pair<uint32_t, uint32_t>;

// Everything one preload works on; lives for the call.
struct Preload {
  NandModel& nand;
  const pkgbuild::BuiltPackage& older;
  const OlderFirmware& firmware;
  uint32_t base = 0;          // first FS block
  std::set<uint32_t> spares;  // the blocks the remaps name
  // One info block per info area, shared by the images that name it, and
  // the first image that names it.
  std::map<InfoArea, pkgbuild::InfoBlockContent> infoAreas;
  std::map<InfoArea, size_t> firstImage;
};

void checkCounters(const OlderFirmware& firmware) {
  for (const auto& [region, counter] : firmware.counters)
    if (region >= 8) throw std::invalid_argument("region tag " + std::to_string(region) + " has no counter (0..7)");
}

// The older firmware: the package's description with another seed.
pkgbuild::BuiltPackage buildOlder(const pkgbuild::PackageRecipe& recipe) {
  pkgbuild::PackageRecipe olderRecipe = recipe;
  olderRecipe.seed ^= kOlderFirmwareSeed;
  return pkgbuild::build(olderRecipe);
}

void checkGeometry(const pkgbuild::BuiltPackage& older, const NandGeometry& g) {
  if (older.layout.geometry.pageSize != g.pageSize || older.layout.geometry.blockDataSize != g.blockDataSize())
    throw std::invalid_argument("the package's NAND geometry differs from the phone's");
}

// The info block content of image k's info area, begun from the image's
// FsHeader (of 5.1.0 for another version) when the area is new.
pkgbuild::InfoBlockContent& infoContentFor(Preload& p, size_t k) {
  const pkgbuild::FsImageLayout& image = p.older.layout.fsImages[k];
  const InfoArea area{image.fsHeader.infoAreaStart, image.fsHeader.infoAreaLength};
  if (!p.infoAreas.count(area)) {
    pkgbuild::InfoBlockContent c;
    c.header = image.fsHeader;
    if (!p.firmware.sameVersion) c.header.version = {5, 1, 0};
    c.countersEnd = image.header.countersEnd;
    c.remap.assign(c.countersEnd >= 16 ? (c.countersEnd - 16) / 2 : 0, 0);
    p.infoAreas[area] = c;
    p.firstImage[area] = k;
  }
  return p.infoAreas[area];
}

// Where data block d of image k sits: its mapped block, or the spare a remap
// of the first image moved it to, recorded in the remap table and its
// region's counter.
uint32_t dataBlockTarget(Preload& p, size_t k, size_t d, pkgbuild::InfoBlockContent& content) {
  const pkgbuild::FsImageLayout& image = p.older.layout.fsImages[k];
  const auto& mapped = image.mappedBlocks[d];
  const int64_t offset0 = int64_t{image.mappedBlocks.front().block} - p.base;
  uint32_t target = mapped.block;
  for (const auto& r : p.firmware.remaps) {
    if (k != 0 || r.dataBlock != d) continue;
    bool spareOfRegion = false;
    for (const auto& s : image.reservedBlocks) spareOfRegion |= s.block == r.spare && s.region == mapped.region;
    if (!spareOfRegion || r.spare < p.base)
      throw std::invalid_argument("block " + std::to_string(r.spare) + " is not a reserved block of data block " +
                                  std::to_string(d) + "'s region");
    target = r.spare;
    int64_t index = offset0 + static_cast<int64_t>(d);
    if (index < 0 || static_cast<size_t>(index) >= content.remap.size())
      throw std::invalid_argument("the remap entry lies outside the info block");
    content.remap[static_cast<size_t>(index)] = static_cast<uint16_t>(r.spare - p.base);
    uint16_t& counter = content.counters[mapped.region & 7];
    counter = std::max<uint16_t>(counter, static_cast<uint16_t>(r.spare - p.base + 1));
  }
  return target;
}

// Image k's data blocks where they sit; a remapped block's mapped block has gone bad.
void storeDataBlocks(Preload& p, size_t k) {
  pkgbuild::InfoBlockContent& content = infoContentFor(p, k);
  const auto& mappedBlocks = p.older.layout.fsImages[k].mappedBlocks;
  for (size_t d = 0; d < mappedBlocks.size(); ++d) {
    const uint32_t target = dataBlockTarget(p, k, d, content);
    p.nand.storeRawBlock(target, p.older.fsDataBlock(k, d));
    if (target != mappedBlocks[d].block) p.nand.markFactoryBad(mappedBlocks[d].block);
  }
}

// One info block per info area, with the counters the firmware sets outright.
void storeInfoBlocks(Preload& p, PreloadedState* state) {
  for (auto& [area, content] : p.infoAreas) {
    for (const auto& [region, counter] : p.firmware.counters) content.counters[region] = counter;
    const uint32_t block = oldInfoBlockFor(p.older.layout.fsImages[p.firstImage[area]], p.spares);
    p.nand.storeRawBlock(block, pkgbuild::makeInfoBlock(builderGeometry(p.nand.geometry()), content));
    if (state) state->oldInfoBlocks.push_back(block);
  }
}

}  // namespace

NandModel preloadOlderFirmware(const PhoneOptions& options, const pkgbuild::PackageRecipe& recipe,
                               const OlderFirmware& firmware, PreloadedState* state) {
  checkCounters(firmware);
  const pkgbuild::BuiltPackage older = buildOlder(recipe);
  NandModel nand = freshNand(options);
  checkGeometry(older, nand.geometry());
  storeImages(nand, older);
  Preload p{nand, older, firmware};
  p.base = static_cast<uint32_t>(older.layout.fsAreaStart / nand.geometry().blockDataSize());
  for (const auto& r : firmware.remaps) p.spares.insert(r.spare);
  for (size_t k = 0; k < older.layout.fsImages.size(); ++k)
    if (older.layout.fsImages[k].written) storeDataBlocks(p, k);
  storeInfoBlocks(p, state);
  return nand;
}

NandModel preloadedNand(const PhoneOptions& options, const PreloadRequest& request) {
  pkgbuild::PackageRecipe recipe = pkgbuild::readRecipe(pkgbuild::descPathFor(request.packagePath));
  return preloadOlderFirmware(options, recipe, request.firmware);
}

}  // namespace hxphone
