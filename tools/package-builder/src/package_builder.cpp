// build(): plans the package, writes its parts in file order and returns the
// bytes with the layout that describes them.
#include "pkgbuild/package_builder.h"

#include "package_parts.h"
#include "package_plan.h"

namespace pkgbuild {
namespace {

using namespace detail;

void placeEntries(const PackageRecipe& recipe, const Plan& plan, PackageLayout& layout) {
  uint32_t next = 0;
  auto add = [&](uint32_t type, uint32_t blocks) {
    layout.entries.push_back({type, next, blocks, 0});
    next += blocks;
  };
  add(0, plan.bootloaderAreaBlocks);
  add(1, plan.extBlocks);
  add(2, 1);
  for (size_t i = 0; i < recipe.entries.size(); ++i) add(recipe.entries[i].type, plan.entryBlocks[i]);
}

void listImages(const PackageRecipe& recipe, PackageLayout& layout) {
  const Geometry& g = layout.geometry;
  uint32_t n = 0;
  for (size_t i = 0; i < recipe.entries.size(); ++i) {
    const EntryRecipe& e = recipe.entries[i];
    if (e.type != 4 && e.type != 5 && e.type != 8) continue;
    ImageLayout image;
    image.type = e.type;
    image.number = ++n;
    image.entryIndex = static_cast<uint32_t>(i + 3);
    image.data = {uint64_t{layout.entries[i + 3].firstBlock} * g.rawBlockSize, e.length};
    image.tableLength = e.tableLength >= 0 ? static_cast<uint32_t>(e.tableLength) : e.length;
    if (e.type == 4) layout.primaryRom = image.data;
    if (e.type == 5) layout.secondaryRom = image.data;
    layout.images.push_back(image);
  }
}

void describeAreas(const PackageRecipe& recipe, const Plan& plan, PackageLayout& layout) {
  const uint64_t block = plan.g.blockDataSize;
  layout.romInfoPresent = recipe.romInfo.present && layout.primaryRom.length > 0;
  layout.romInfoOffset = recipe.romInfo.offset;
  layout.romInfoVersion = recipe.romInfo.version;
  layout.romNandStartBlock = kRomNandStartBlock;
  layout.fsAreaStart = plan.fsAreaStartBlock * block;
  layout.fsAreaLength = recipe.romInfo.fsAreaLengthOverride >= 0
                            ? static_cast<uint64_t>(recipe.romInfo.fsAreaLengthOverride)
                            : plan.fsAreaBlocks * block;
  layout.fsFormatAreaStart = layout.fsAreaStart;
  layout.fsFormatAreaLength = layout.fsAreaLength;
  if (!recipe.romInfo.extraAreas.empty()) {
    layout.fsFormatAreaStart = recipe.romInfo.extraAreas.back().start;
    layout.fsFormatAreaLength = recipe.romInfo.extraAreas.back().length;
  }
}

}  // namespace

BuiltPackage build(const PackageRecipe& recipe) {
  const Plan plan = planPackage(recipe);
  BuiltPackage pkg;
  PackageLayout& layout = pkg.layout;
  layout.geometry = plan.g;
  layout.totalBlocks = static_cast<uint32_t>(plan.totalBlocks);
  layout.packageSize = plan.totalBlocks * plan.g.rawBlockSize;
  placeEntries(recipe, plan, layout);
  listImages(recipe, layout);
  describeAreas(recipe, plan, layout);

  pkg.bytes.assign(layout.packageSize, 0xFF);
  writeBootloaderArea(pkg.bytes, recipe, plan, layout);
  writeExtBootloader(pkg.bytes, recipe, plan, layout);
  writeImageTableBlock(pkg.bytes, recipe, plan, layout);
  for (size_t i = 0; i < recipe.entries.size(); ++i) {
    if (recipe.entries[i].type == 10)
      writeFsEntry(pkg.bytes, recipe, plan, i, layout);
    else
      writeImageEntry(pkg.bytes, recipe, plan, i, layout);
  }
  describeFsImages(recipe, plan, layout);
  return pkg;
}

}  // namespace pkgbuild
