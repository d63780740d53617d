// Entry 3 (the image-table block) and the page-data entries from the fourth
// on: ROM images with their RomInfo record, secondary ROM, listed-only and
// skipped images.
#include <algorithm>
#include <array>
#include <stdexcept>
#include <string>

#include "byte_stream.h"
#include "le_bytes.h"
#include "package_parts.h"
#include "page_writer.h"

namespace pkgbuild::detail {

// The length of image n lives at 16n + 4 for n <= 9 and at 16n + 8 from n = 10.
uint32_t imageTableOffsetOf(uint32_t n) {
  if (n == 0 || n > kImageTableSlots) return 0;
  return n <= 9 ? 16 * n + 4 : 16 * n + 8;
}

void writeImageTableBlock(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                          PackageLayout& layout) {
  const Geometry& g = plan.g;
  const uint64_t base = uint64_t{layout.entries[2].firstBlock} * g.rawBlockSize;
  ByteStream data(recipe.seed, kImageTableStream);
  ByteStream ecc(recipe.seed, kImageTableStream | kSpareStreamFlag);
  fillPages(pkg, g, base, g.blockDataSize, data, ecc);

  // The table's unused bytes keep their generated content: a reader that
  // looks at the wrong offset reads noise, not a plausible length.
  const uint64_t tableStart = 2ull * g.pageSize;
  layout.imageTableOffset = pageDataFileOffset(g, base, tableStart);
  for (ImageLayout& image : layout.images) {
    image.tableOffset = imageTableOffsetOf(image.number);
    if (image.tableOffset == 0) continue;
    std::array<uint8_t, 4> word{};
    putLe32(word.data(), image.tableLength);
    writePageData(pkg, g, base, tableStart + image.tableOffset, word);
  }
}

std::vector<uint8_t> romInfoRecord(const RomInfoRecipe& ri, const Plan& plan) {
  const Geometry& g = plan.g;
  std::vector<uint8_t> r(kRomInfoSize, 0);
  const std::string marker = "MTK_ROMINFO_v";
  std::copy(marker.begin(), marker.end(), r.begin());
  const std::string version = std::to_string(ri.version);
  std::copy_n(version.begin(), std::min<size_t>(version.size(), 3), r.begin() + 13);
  std::copy_n(ri.name.begin(), std::min<size_t>(ri.name.size(), 127), r.begin() + 16);
  std::copy_n(ri.secondName.begin(), std::min<size_t>(ri.secondName.size(), 65), r.begin() + 144);

  std::vector<RomAreaRecipe> areas;
  areas.push_back({0, 0, kRomNandStartBlock * g.blockDataSize, plan.romNandBlocks * g.blockDataSize});
  uint32_t fsLength = plan.fsAreaBlocks * g.blockDataSize;
  if (ri.fsAreaLengthOverride >= 0) fsLength = static_cast<uint32_t>(ri.fsAreaLengthOverride);
  areas.push_back({1, 0, plan.fsAreaStartBlock * g.blockDataSize, fsLength});
  areas.insert(areas.end(), ri.extraAreas.begin(), ri.extraAreas.end());
  if (areas.size() > 7) throw std::invalid_argument("at most 7 RomInfo areas fit before the format tag");
  const uint32_t count = ri.areaCountOverride >= 0 ? static_cast<uint32_t>(ri.areaCountOverride)
                                                   : static_cast<uint32_t>(areas.size());
  putLe16(&r[210], static_cast<uint16_t>(count));
  for (size_t i = 0; i < areas.size(); ++i) {
    uint8_t* e = &r[212 + 16 * i];
    putLe32(e, areas[i].word0);
    putLe32(e + 4, areas[i].word1);
    putLe32(e + 8, areas[i].start);
    putLe32(e + 12, areas[i].length);
  }
  std::copy_n(ri.formatTag.begin(), std::min<size_t>(ri.formatTag.size(), 8), r.begin() + 332);
  return r;
}

void writeImageEntry(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                     size_t recipeIndex, PackageLayout& layout) {
  const Geometry& g = plan.g;
  const EntryRecipe& e = recipe.entries[recipeIndex];
  const EntryLayout& entry = layout.entries[recipeIndex + 3];
  const uint64_t base = uint64_t{entry.firstBlock} * g.rawBlockSize;
  ByteStream data(recipe.seed, kEntryStreamBase + recipeIndex);
  ByteStream ecc(recipe.seed, (kEntryStreamBase + recipeIndex) | kSpareStreamFlag);
  fillPages(pkg, g, base, e.length, data, ecc);

  if (e.type == 4 && recipe.romInfo.present) {
    if (uint64_t{recipe.romInfo.offset} + kRomInfoSize > e.length)
      throw std::invalid_argument("the RomInfo record does not fit in a ROM image of " +
                                  std::to_string(e.length) + " bytes");
    writePageData(pkg, g, base, recipe.romInfo.offset, romInfoRecord(recipe.romInfo, plan));
  }
}

}  // namespace pkgbuild::detail
