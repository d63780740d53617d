// Ready-made descriptions: a tiny package for tests and a large one for benchmarks.
#include <algorithm>

#include "package_plan.h"
#include "pkgbuild/nand_format.h"
#include "pkgbuild/package_recipe.h"

namespace pkgbuild {

PackageRecipe tinyRecipe(uint32_t pageSize) {
  PackageRecipe s;
  s.pageSize = pageSize;
  s.blockKiB = defaultBlockKiB(pageSize);
  const uint32_t block = s.blockKiB * 1024;
  s.bootloader.length = 3000;
  s.extBootloaderLength = 1500;
  s.romInfo.offset = 0x200;
  s.entries = {EntryRecipe{4, block + block / 2 + 7}, EntryRecipe{5, block / 2 + 3}, EntryRecipe{10, 0, 0}};
  FsEntryRecipe fs;
  fs.regionCount = 2;
  fs.reservedPerRegion = 2;  // two region-0 spares: the info block alternates between them
  FsVolumeRecipe v0{2};
  v0.programmedPages = {-1, 3};
  FsVolumeRecipe v1{1};
  v1.programmedPages = {1};
  v1.scatterPages = true;
  FsVolumeRecipe v2{1};
  v2.programmedPages = {0};
  fs.volumes = {v0, v1, v2};
  s.fs = {fs};
  s.romSpareBlocks = 1;
  return s;
}

PackageRecipe sizedRecipe(uint64_t bytes, uint32_t pageSize) {
  PackageRecipe s;
  s.pageSize = pageSize;
  s.blockKiB = defaultBlockKiB(pageSize);
  const Geometry g = geometryFor(pageSize, s.blockKiB);
  const uint64_t wantedBlocks = std::max<uint64_t>(bytes / g.rawBlockSize, 64);
  // Blocks the default package takes besides the first FS volume.
  s.fs[0].volumes[0].blocks = 1;
  const uint64_t fixedBlocks = detail::planPackage(s).totalBlocks - 1;
  uint64_t volumeBlocks = wantedBlocks > fixedBlocks ? wantedBlocks - fixedBlocks : 8;
  // The FS area's remap table must fit in one info block (2 bytes per FS
  // block, the counters and the 512-byte FsHeader); beyond that the ROM grows.
  const uint64_t maxFsBlocks = (g.blockDataSize - 512 - 16) / 2 - 64;
  const uint64_t maxVolumeBlocks = maxFsBlocks - 16 - 8;
  if (volumeBlocks > maxVolumeBlocks) {
    const uint64_t romExtra = (volumeBlocks - maxVolumeBlocks) * g.blockDataSize;
    s.entries[0].length = static_cast<uint32_t>(
        std::min<uint64_t>(s.entries[0].length + romExtra, 0xF0000000u));
    volumeBlocks = maxVolumeBlocks;
  }
  s.fs[0].volumes[0].blocks = static_cast<uint32_t>(volumeBlocks);
  return s;
}

}  // namespace pkgbuild
