// Type-10 entries: the FsImageHeader with its mapping words, the info area
// whose first block carries the FsHeader, and the volumes' data blocks; and
// the FS images the module makes of them (split per volume for 5.2.0).
#include <algorithm>

#include "byte_stream.h"
#include "le_bytes.h"
#include "package_parts.h"
#include "page_writer.h"

namespace pkgbuild::detail {
namespace {

constexpr std::array<uint8_t, 3> kSplitVersion{5, 2, 0};
constexpr uint32_t kFsImageAddresses[] = {0x01800000, 0x05600000, 0x09600000, 0x0E600000};

// Page indices programmed in data block `d` of a volume.
std::vector<uint32_t> pagesToProgram(const FsVolumeRecipe& v, uint32_t d, uint32_t pagesPerBlock) {
  const int32_t wanted = v.programmedPages.empty() ? -1 : v.programmedPages[d % v.programmedPages.size()];
  const uint32_t n = (wanted < 0 || static_cast<uint32_t>(wanted) > pagesPerBlock)
                         ? pagesPerBlock
                         : static_cast<uint32_t>(wanted);
  std::vector<uint32_t> pages;
  for (uint32_t k = 0; k < n; ++k) pages.push_back(v.scatterPages ? k * pagesPerBlock / n : k);
  return pages;
}

std::vector<BlockRef> consecutiveBlocks(uint32_t first, uint32_t count, uint32_t regionCount) {
  std::vector<BlockRef> refs;
  refs.reserve(count);
  for (uint32_t j = 0; j < count; ++j) refs.push_back({(j % regionCount) & 0xFFu, first + j});
  return refs;
}

// The header and its words as consecutive raw bytes from `at`.
void writeImageHeader(std::vector<uint8_t>& pkg, uint64_t at, const FsImageHeaderFields& h,
                      const std::vector<BlockRef>& mapped, const std::vector<BlockRef>& reserved) {
  const auto head = encodeFsImageHeader(h);
  std::copy(head.begin(), head.end(), pkg.begin() + static_cast<std::ptrdiff_t>(at));
  at += kFsImageHeaderSize;
  for (const auto* list : {&mapped, &reserved})
    for (const BlockRef& r : *list) {
      putLe32(&pkg[at], packMapWord(r));
      at += 4;
    }
}

void writeVolumeBlocks(std::vector<uint8_t>& pkg, const Geometry& g, const FsVolumeRecipe& v,
                       uint64_t firstBlock, ByteStream& data, ByteStream& ecc) {
  for (uint32_t d = 0; d < v.blocks; ++d) {
    const uint64_t block = (firstBlock + d) * g.rawBlockSize;
    for (uint32_t p : pagesToProgram(v, d, g.pagesPerBlock))
      programPage(pkg, g, block + uint64_t{p} * g.rawPageSize(), data, ecc);
  }
}

void describeSplitImages(const Plan& plan, const FsEntryLayout& fe, uint64_t entryBase,
                         PackageLayout& layout) {
  const Geometry& g = plan.g;
  const uint32_t raw = g.rawBlockSize;
  const uint64_t dataStart = entryBase + uint64_t{fe.header.infoBlocksBefore + fe.infoAreaBlocks} * raw;
  const uint32_t volume0 = fe.fsHeader.volumes[0].start;
  for (uint32_t i = 0; i < kFsVolumeSlots && fe.fsHeader.volumes[i].length != 0; ++i) {
    const FsVolume& vol = fe.fsHeader.volumes[i];
    const uint32_t m = vol.length / g.blockDataSize;
    FsImageLayout img;
    img.fsEntry = static_cast<uint32_t>(&fe - layout.fsEntries.data());
    img.volume = static_cast<int32_t>(i);
    img.hasFsHeader = true;
    img.written = true;
    img.fsHeader = fe.fsHeader;
    img.header = fe.header;
    img.header.mappedCount = m;
    img.header.eraseStartIndex = m;
    img.header.totalBlocks = m + fe.header.reservedCount;
    img.header.blocksPerRegion = m / fe.header.regionCount;
    img.header.infoBlocksBefore = headerBlocksFor(g, m + fe.header.reservedCount);
    img.mappedBlocks = consecutiveBlocks(vol.start / g.blockDataSize, m, fe.header.regionCount);
    img.reservedBlocks = consecutiveBlocks(fe.fsHeader.infoAreaStart / g.blockDataSize,
                                           fe.header.reservedCount, fe.header.regionCount);
    img.imageLength = uint64_t{img.header.infoBlocksBefore + fe.infoAreaBlocks + m} * raw;
    img.infoBlockFileOffset = fe.infoBlockFileOffset;
    for (uint32_t q = 0; q < fe.infoAreaBlocks; ++q)
      img.infoAreaFileOffsets.push_back(fe.infoBlockFileOffset + uint64_t{q} * raw);
    const uint64_t volumeData = dataStart + uint64_t{(vol.start - volume0) / g.blockDataSize} * raw;
    for (uint32_t d = 0; d < m; ++d) img.dataBlockFileOffsets.push_back(volumeData + uint64_t{d} * raw);
    layout.fsImages.push_back(std::move(img));
  }
}

void describeRawImage(const Plan& plan, const FsEntryLayout& fe, const FsPlan& fp, const EntryLayout& entry,
                      const FsEntryRecipe& fs, PackageLayout& layout) {
  const Geometry& g = plan.g;
  const uint32_t raw = g.rawBlockSize;
  FsImageLayout img;
  img.fsEntry = static_cast<uint32_t>(&fe - layout.fsEntries.data());
  img.hasFsHeader = fs.markInfoBlock;
  img.written = false;  // not 5.2.0, or no FsHeader at all
  img.header = fe.header;
  img.fsHeader = fe.fsHeader;
  img.mappedBlocks = consecutiveBlocks(fp.volumeBlock[0], fp.header.mappedCount, fp.header.regionCount);
  img.reservedBlocks = consecutiveBlocks(fp.infoAreaBlock, fp.header.reservedCount, fp.header.regionCount);
  img.rawFileOffset = uint64_t{entry.firstBlock} * raw;
  img.imageLength = uint64_t{entry.blockCount} * raw;
  img.infoBlockFileOffset = fe.infoBlockFileOffset;
  img.infoAreaFileOffsets.push_back(fe.infoBlockFileOffset);
  // The FS writer takes the data blocks from the raw block after the info block.
  for (uint32_t d = 0; d < fe.header.mappedCount; ++d) {
    const uint64_t block = uint64_t{fe.header.infoBlocksBefore} + 1 + d;
    if (block >= entry.blockCount) break;
    img.dataBlockFileOffsets.push_back(img.rawFileOffset + block * raw);
  }
  layout.fsImages.push_back(std::move(img));
}

}  // namespace

void writeFsEntry(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan, size_t recipeIndex,
                  PackageLayout& layout) {
  const Geometry& g = plan.g;
  const EntryRecipe& e = recipe.entries[recipeIndex];
  const FsEntryRecipe& fs = recipe.fs[e.fs];
  const FsPlan& fp = plan.fs[e.fs];
  const uint32_t entryIndex = static_cast<uint32_t>(recipeIndex + 3);
  const uint64_t firstBlock = layout.entries[entryIndex].firstBlock;
  const uint64_t base = firstBlock * g.rawBlockSize;

  FsEntryLayout fe;
  fe.entryIndex = entryIndex;
  fe.fsRecipe = e.fs;
  fe.header = fp.header;
  fe.fsHeader = fp.fsHeader;
  fe.infoAreaBlocks = fp.infoAreaBlocks;
  fe.multiVolume = fs.markInfoBlock && fs.version == kSplitVersion;
  fe.headerFileOffset = base;
  writeImageHeader(pkg, base, fp.header,
                   consecutiveBlocks(fp.volumeBlock[0], fp.header.mappedCount, fp.header.regionCount),
                   consecutiveBlocks(fp.infoAreaBlock, fp.header.reservedCount, fp.header.regionCount));

  fe.infoBlockFileOffset = (firstBlock + fp.header.infoBlocksBefore) * g.rawBlockSize;
  InfoBlockContent content;
  content.header = fp.fsHeader;
  content.countersEnd = fp.header.countersEnd;
  content.marked = fs.markInfoBlock;
  const std::vector<uint8_t> info = makeInfoBlock(g, content);
  std::copy(info.begin(), info.end(), pkg.begin() + static_cast<std::ptrdiff_t>(fe.infoBlockFileOffset));
  fe.fsHeaderFileOffset = fe.infoBlockFileOffset +
                          uint64_t{fsHeaderPage(g, content.countersEnd)} * g.rawPageSize() + g.pageSize -
                          kFsHeaderSize;

  ByteStream data(recipe.seed, kFsStreamBase + e.fs);
  ByteStream ecc(recipe.seed, (kFsStreamBase + e.fs) | kSpareStreamFlag);
  const uint64_t dataStart = firstBlock + fp.header.infoBlocksBefore + fp.infoAreaBlocks;
  for (size_t i = 0; i < fs.volumes.size(); ++i)
    writeVolumeBlocks(pkg, g, fs.volumes[i], dataStart + (fp.volumeBlock[i] - fp.volumeBlock[0]), data, ecc);
  layout.fsEntries.push_back(fe);
}

void describeFsImages(const PackageRecipe& recipe, const Plan& plan, PackageLayout& layout) {
  // fsEntries are in entry-table order, which is the module's order.
  for (const FsEntryLayout& fe : layout.fsEntries) {
    const EntryLayout& entry = layout.entries[fe.entryIndex];
    const FsPlan& fp = plan.fs[fe.fsRecipe];
    if (fe.multiVolume)
      describeSplitImages(plan, fe, uint64_t{entry.firstBlock} * plan.g.rawBlockSize, layout);
    else
      describeRawImage(plan, fe, fp, entry, recipe.fs[fe.fsRecipe], layout);
  }
  for (size_t k = 0; k < layout.fsImages.size() && k < 4; ++k) layout.fsImages[k].address = kFsImageAddresses[k];
}

}  // namespace pkgbuild::detail
