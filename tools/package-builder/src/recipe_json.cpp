// PackageRecipe <-> JSON. Keys are the member names; a missing key keeps its
// default, so a hand-written description may name only what it changes.
#include <nlohmann/json.hpp>

#include "pkgbuild/package_recipe.h"

namespace pkgbuild {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(BootloaderRecipe, length, withRecord, infoVersion,
                                                recordLength, headerWord, checksumSeed, word96)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RomAreaRecipe, word0, word1, start, length)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RomInfoRecipe, present, version, offset, name,
                                                secondName, formatTag, extraAreas,
                                                areaCountOverride, fsAreaLengthOverride)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(EntryRecipe, type, length, fs, tableLength)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FsVolumeRecipe, blocks, extraBytes, gapBlocksBefore,
                                                programmedPages, scatterPages)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FsEntryRecipe, version, volumes, regionCount,
                                                reservedPerRegion, countersEnd, markInfoBlock)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(PackageRecipe, pageSize, blockKiB, seed, bootloader,
                                                extBootloaderLength, romInfo, entries, fs,
                                                fsAreaStartBlock, romSpareBlocks, fsAreaExtraBlocks)

nlohmann::json toJson(const PackageRecipe& recipe) { return recipe; }

PackageRecipe fromJson(const nlohmann::json& j) { return j.get<PackageRecipe>(); }

}  // namespace pkgbuild
