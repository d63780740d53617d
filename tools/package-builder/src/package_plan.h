#pragma once
// Where everything goes: the package blocks of each entry and the NAND blocks
// of the ROM and FS areas, worked out from a recipe before any byte is written.
#include <cstdint>
#include <vector>

#include "pkgbuild/nand_format.h"
#include "pkgbuild/package_recipe.h"

namespace pkgbuild::detail {

inline constexpr uint32_t kAreaHeadSize = 512;         // bootloader area head
inline constexpr uint32_t kTrailerSize = 128;          // bootloader trailer
inline constexpr uint32_t kPackageHeaderSize = 32;
inline constexpr uint32_t kEntrySize = 16;
inline constexpr uint32_t kMaxEntries = (kAreaHeadSize - kPackageHeaderSize) / kEntrySize - 1;  // 29
inline constexpr uint32_t kImageTableSize = 324;
inline constexpr uint32_t kImageTableSlots = 19;
inline constexpr uint32_t kRomInfoSize = 352;
inline constexpr uint32_t kRomNandStartBlock = 2;
inline constexpr uint32_t kSecondaryRomGap = 0x4000;

// One FS entry recipe placed in the FS area.
struct FsPlan {
  std::vector<uint32_t> volumeBlock;  // NAND start block of each volume
  uint32_t spanBlocks = 0;            // first volume's start to the last volume's end
  uint32_t infoAreaBlock = 0;         // NAND block of the info area (the reserved blocks)
  uint32_t reservedCount = 0;
  uint32_t infoAreaBlocks = 0;        // ceil(countersEnd / blockDataSize), at least 1
  FsImageHeaderFields header;         // the entry's header in the package
  FsHeaderFields fsHeader;

  uint32_t entryBlocks() const { return header.infoBlocksBefore + infoAreaBlocks + spanBlocks; }
};

struct Plan {
  Geometry g;
  uint32_t bootloaderAreaBlocks = 0;
  uint32_t extBlocks = 0;
  std::vector<uint32_t> entryBlocks;  // one per recipe.entries
  std::vector<FsPlan> fs;             // one per recipe.fs
  uint32_t romNandBlocks = 0;
  uint32_t fsAreaStartBlock = 0;
  uint32_t fsAreaBlocks = 0;
  uint64_t totalBlocks = 0;
};

// Throws std::invalid_argument when the recipe cannot be laid out.
Plan planPackage(const PackageRecipe& recipe);

uint32_t blocksFor(const Geometry& g, uint64_t bytes);

}  // namespace pkgbuild::detail
