#pragma once
// PackageRecipe: the description from which the package builder writes a
// firmware package. Every image byte is generated from `seed`, so one
// description always gives the same package, byte for byte; the description
// travels as JSON beside the package (`<package>.desc.json`).
//
// Package shape the builder writes (raw blocks of the package):
//   entry 1  bootloader area, from block 0: the 32-byte header and the entry
//            table in the 512-byte area head (the span word at data offset 16
//            is header bytes 16..19), the bootloader at data offset 512, then
//            the 128-byte trailer whose u32 at 20 is the ext bootloader length
//   entry 2  ext bootloader (page data)
//   entry 3  image-table block: the 324-byte ImageTable at data offset 2*pageSize
//   entries  `entries`, in order: ROM images (type 4, with a RomInfo record),
//            secondary ROM (5), listed-only images (8), FS entries (10),
//            skipped types (9, 11..255) and anything else a test asks for.
//
// On the phone (NAND blocks): the primary ROM is kept from block 2, the
// secondary ROM 0x4000 bytes after the primary's end, and the FS area after
// that (or at `fsAreaStartBlock`). Each FS entry takes, inside the FS area,
// its volumes (in order, with optional gaps) followed by its info area, which
// is its reserved blocks; its FsHeader and mapping words say so.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace pkgbuild {

// The bootloader image and the BootloaderInfo record at its end.
struct BootloaderRecipe {
  uint32_t length = 48 * 1024;   // image bytes, record and length word included
  bool withRecord = true;        // false: no record and no length word
  uint32_t infoVersion = 3;      // written as decimal text at record offset 18
  uint32_t recordLength = 0;     // L, the length word; 0 = the version's size (1: 108, 2: 132, 3: 136, else 136)
  uint32_t headerWord = 0x00020001;   // record bytes 88..91 (stored little-endian)
  uint32_t checksumSeed = 0x5A3C96E1; // record u32 at 92
  uint32_t word96 = 0x00000100;       // record u32 at 96
};

// A RomInfo area-table entry: two u32 the module does not use, then start and length.
struct RomAreaRecipe {
  uint32_t word0 = 0;
  uint32_t word1 = 0;
  uint32_t start = 0;   // NAND byte address
  uint32_t length = 0;  // bytes
};

// The RomInfo record every type-4 image carries. The builder writes 352 bytes
// of record (the format tag at 332 included) whatever the version.
struct RomInfoRecipe {
  bool present = true;
  uint32_t version = 5;          // 4, 5, 6 (others for tests), decimal text at 13
  uint32_t offset = 0x400;       // in the ROM image; the record must fit in the image
  std::string name = "hx9120_main";        // text at 16 (lower case on purpose: the module upper-cases it)
  std::string secondName = "hx9120 nand";  // text at 144
  std::string formatTag = "05200001";      // 8 bytes at 332
  // Area table: entry 0 the ROM's NAND area, entry 1 the FS area, then these;
  // the last entry is the area the module may format as the FS area.
  std::vector<RomAreaRecipe> extraAreas;
  int32_t areaCountOverride = -1;  // >= 0: written as the u16 count instead of the real count
  int64_t fsAreaLengthOverride = -1;  // >= 0: written as entry 1's length
};

// One entry from the fourth on.
struct EntryRecipe {
  uint32_t type = 4;       // type byte (0..255); 4 ROM, 5 secondary ROM, 8 listed only, 10 FS, 9/11..255 skipped
  uint32_t length = 0;     // image bytes for every type but 10 (the entry has max(1, ceil(length / block)) blocks)
  uint32_t fs = 0;         // type 10: index into PackageRecipe::fs
  int64_t tableLength = -1;  // types 4, 5, 8: >= 0 writes this ImageTable length instead of `length`
};

// One FS volume of an FS entry.
struct FsVolumeRecipe {
  uint32_t blocks = 8;           // data blocks; the volume's length is blocks * blockDataSize + extraBytes
  uint32_t extraBytes = 0;       // declared beyond the whole blocks (the split drops it); takes one more NAND block
  uint32_t gapBlocksBefore = 0;  // NAND blocks left free before the volume (erased blocks in the package)
  // Programmed pages of data block i: programmedPages[i % size]; -1 = all pages,
  // n = n pages (the first n, or spread over the block when `scatterPages`).
  std::vector<int32_t> programmedPages = {-1, -1, -1, 3, 0, -1, 1, 4};
  bool scatterPages = false;
};

// One FS entry (type 10). With version 5.2.0 the module splits it into one FS
// image per volume (up to the first empty one); with any other version, or
// without a marked info page, it takes the entry's raw blocks as one image.
struct FsEntryRecipe {
  std::array<uint8_t, 3> version{5, 2, 0};
  std::vector<FsVolumeRecipe> volumes = {FsVolumeRecipe{24}, FsVolumeRecipe{8}, FsVolumeRecipe{8}};
  uint32_t regionCount = 4;        // 1..8
  uint32_t reservedPerRegion = 2;  // reserved blocks = regionCount * reservedPerRegion (the info area)
  uint32_t countersEnd = 0;        // 0 = 2 * FS area blocks + 16
  bool markInfoBlock = true;       // false: the info block carries no marked page
};

struct PackageRecipe {
  uint32_t pageSize = 2048;        // 512 or 2048
  uint32_t blockKiB = 0;           // 0 = 16 for 512-byte pages, 128 for 2048
  uint64_t seed = 0x4858393132300001ULL;
  BootloaderRecipe bootloader;
  uint32_t extBootloaderLength = 24 * 1024;
  RomInfoRecipe romInfo;
  std::vector<EntryRecipe> entries = {EntryRecipe{4, 3u << 20}, EntryRecipe{5, 256u << 10}, EntryRecipe{10, 0, 0}};
  std::vector<FsEntryRecipe> fs = {FsEntryRecipe{}};
  uint32_t fsAreaStartBlock = 0;   // 0 = after the ROM images' NAND area and `romSpareBlocks`
  uint32_t romSpareBlocks = 4;     // blocks left between the ROM images and the FS area
  uint32_t fsAreaExtraBlocks = 0;  // FS area blocks beyond what the FS entries take
};

nlohmann::json toJson(const PackageRecipe& recipe);
// Missing keys take their defaults; throws nlohmann::json::exception on wrong types.
PackageRecipe fromJson(const nlohmann::json& j);

// A small package for tests: a few blocks of everything (bootloader, ext,
// ROM, secondary ROM, three FS volumes of 2, 1 and 1 blocks with every kind of
// programmed-page count, 2 regions with 2 reserved blocks each).
PackageRecipe tinyRecipe(uint32_t pageSize = 2048);

// The default package grown to about `bytes` (the first FS volume takes the
// growth), for benchmarks and large demos.
PackageRecipe sizedRecipe(uint64_t bytes, uint32_t pageSize = 2048);

}  // namespace pkgbuild
