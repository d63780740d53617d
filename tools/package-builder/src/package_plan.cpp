#include "package_plan.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace pkgbuild::detail {
namespace {

[[noreturn]] void refuse(const std::string& why) { throw std::invalid_argument(why); }

uint32_t lastLengthOfType(const PackageRecipe& recipe, uint32_t type) {
  uint32_t length = 0;
  for (const EntryRecipe& e : recipe.entries)
    if (e.type == type) length = e.length;
  return length;
}

uint64_t volumeLength(const Geometry& g, const FsVolumeRecipe& v) {
  return uint64_t{v.blocks} * g.blockDataSize + v.extraBytes;
}

uint32_t volumeNandBlocks(const Geometry& g, const FsVolumeRecipe& v) {
  return v.blocks + (v.extraBytes ? blocksFor(g, v.extraBytes) : 0);
}

// NAND blocks one FS entry recipe takes: its volumes with their gaps, then its info area.
FsPlan placeFsEntry(const Geometry& g, const FsEntryRecipe& fs, uint32_t firstBlock) {
  if (fs.volumes.empty() || fs.volumes.size() > kFsVolumeSlots)
    refuse("an FS entry needs 1 to 8 volumes");
  if (fs.regionCount < 1 || fs.regionCount > 8) refuse("regionCount must be 1..8");
  FsPlan p;
  uint64_t next = firstBlock;
  for (const FsVolumeRecipe& v : fs.volumes) {
    next += v.gapBlocksBefore;
    p.volumeBlock.push_back(static_cast<uint32_t>(next));
    next += volumeNandBlocks(g, v);
  }
  p.spanBlocks = static_cast<uint32_t>(next - p.volumeBlock[0]);
  const uint64_t reserved = uint64_t{fs.regionCount} * fs.reservedPerRegion;
  if (next + reserved >= (1u << 24)) refuse("FS blocks beyond 2^24");
  p.infoAreaBlock = static_cast<uint32_t>(next);
  p.reservedCount = static_cast<uint32_t>(reserved);
  return p;
}

void describeFsEntry(const Geometry& g, const FsEntryRecipe& fs, uint32_t fsAreaBlocks, FsPlan& p) {
  uint32_t countersEnd = fs.countersEnd;
  if (countersEnd == 0) {
    countersEnd = 2 * fsAreaBlocks + 16;
    if (countersEnd + kFsHeaderSize > g.blockDataSize)
      refuse("an FS area of " + std::to_string(fsAreaBlocks) +
             " blocks needs a remap table larger than one info block");
  }
  p.infoAreaBlocks = std::max<uint32_t>(1, blocksFor(g, countersEnd));

  FsImageHeaderFields& h = p.header;
  h.regionCount = fs.regionCount;
  h.mappedCount = p.spanBlocks;
  h.reservedCount = p.reservedCount;
  h.totalBlocks = h.mappedCount + h.reservedCount;
  h.eraseStartIndex = h.mappedCount;
  h.blocksPerRegion = h.mappedCount / h.regionCount;
  h.countersEnd = countersEnd;
  h.pageSize = static_cast<uint16_t>(g.pageSize);
  h.blockKiB = static_cast<uint16_t>(g.blockKiB);
  h.infoBlocksBefore = headerBlocksFor(g, h.totalBlocks);

  FsHeaderFields& f = p.fsHeader;
  f.infoAreaStart = p.infoAreaBlock * g.blockDataSize;
  f.infoAreaLength = p.reservedCount * g.blockDataSize;
  for (size_t i = 0; i < fs.volumes.size(); ++i)
    f.volumes[i] = {p.volumeBlock[i] * g.blockDataSize,
                    static_cast<uint32_t>(volumeLength(g, fs.volumes[i]))};
  f.version = fs.version;
}

void checkRomInfo(const RomInfoRecipe& ri) {
  if (ri.areaCountOverride < -1 || ri.areaCountOverride > 0xFFFF) refuse("areaCountOverride outside -1..65535");
  if (ri.fsAreaLengthOverride < -1 || ri.fsAreaLengthOverride > 0xFFFFFFFFll)
    refuse("fsAreaLengthOverride outside -1..0xFFFFFFFF");
}

}  // namespace

uint32_t blocksFor(const Geometry& g, uint64_t bytes) {
  return static_cast<uint32_t>((bytes + g.blockDataSize - 1) / g.blockDataSize);
}

Plan planPackage(const PackageRecipe& recipe) {
  checkRomInfo(recipe.romInfo);
  Plan plan;
  plan.g = geometryFor(recipe.pageSize, recipe.blockKiB ? recipe.blockKiB : defaultBlockKiB(recipe.pageSize));
  const Geometry& g = plan.g;
  if (recipe.entries.size() + 3 > kMaxEntries)
    refuse("at most " + std::to_string(kMaxEntries) + " entries fit in the bootloader area head");

  plan.bootloaderAreaBlocks = blocksFor(g, uint64_t{kAreaHeadSize} + recipe.bootloader.length + kTrailerSize);
  plan.extBlocks = std::max<uint32_t>(1, blocksFor(g, recipe.extBootloaderLength));

  // NAND: the ROM images from block 2, then the FS area.
  const uint64_t romBytes = uint64_t{lastLengthOfType(recipe, 4)} + kSecondaryRomGap + lastLengthOfType(recipe, 5);
  plan.romNandBlocks = blocksFor(g, romBytes);
  if ((uint64_t{kRomNandStartBlock} + plan.romNandBlocks) * g.blockDataSize > 0xFFFFFFFFull)
    refuse("the ROM images reach beyond 4 GiB of NAND");
  const uint64_t fsStart = recipe.fsAreaStartBlock ? recipe.fsAreaStartBlock
                                                 : uint64_t{kRomNandStartBlock} + plan.romNandBlocks + recipe.romSpareBlocks;
  if (fsStart >= (1u << 24)) refuse("FS area start beyond 2^24 blocks");
  plan.fsAreaStartBlock = static_cast<uint32_t>(fsStart);

  uint64_t next = fsStart;
  for (const FsEntryRecipe& fs : recipe.fs) {
    plan.fs.push_back(placeFsEntry(g, fs, static_cast<uint32_t>(next)));
    next = uint64_t{plan.fs.back().infoAreaBlock} + plan.fs.back().reservedCount;
  }
  const uint64_t fsBlocks = next - fsStart + recipe.fsAreaExtraBlocks;
  if ((fsStart + fsBlocks) * g.blockDataSize > 0xFFFFFFFFull)
    refuse("the FS area reaches beyond 4 GiB of NAND");
  plan.fsAreaBlocks = static_cast<uint32_t>(fsBlocks);
  for (size_t i = 0; i < recipe.fs.size(); ++i) describeFsEntry(g, recipe.fs[i], plan.fsAreaBlocks, plan.fs[i]);

  uint64_t total = plan.bootloaderAreaBlocks + plan.extBlocks + 1;
  for (const EntryRecipe& e : recipe.entries) {
    if (e.type > 255) refuse("entry type above 255");
    if (e.tableLength < -1 || e.tableLength > 0xFFFFFFFFll) refuse("tableLength outside -1..0xFFFFFFFF");
    uint32_t blocks = 0;
    if (e.type == 10) {
      if (e.fs >= plan.fs.size()) refuse("FS entry names FS recipe " + std::to_string(e.fs) + " that does not exist");
      blocks = plan.fs[e.fs].entryBlocks();
    } else {
      blocks = std::max<uint32_t>(1, blocksFor(g, e.length));
    }
    plan.entryBlocks.push_back(blocks);
    total += blocks;
  }
  plan.totalBlocks = total;
  if (total * g.rawBlockSize > 0xFFFFFFFFull) refuse("package larger than 4 GiB");
  return plan;
}

}  // namespace pkgbuild::detail
