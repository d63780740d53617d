// PackageSpec <-> JSON. Keys are the member names; a missing key keeps its
// default, so a hand-written description may name only what it changes.
#include <nlohmann/json.hpp>

#include "pkgbuild/package_spec.h"

namespace pkgbuild {

NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(BootloaderSpec, length, withRecord, infoVersion,
                                                recordLength, headerWord, checksumSeed, word96)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RomAreaSpec, word0, word1, start, length)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(RomInfoSpec, present, version, offset, name,
                                                secondName, formatTag, extraAreas,
                                                areaCountOverride, fsAreaLengthOverride)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(EntrySpec, type, length, fs, tableLength)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FsVolumeSpec, blocks, extraBytes, gapBlocksBefore,
                                                programmedPages, scatterPages)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(FsEntrySpec, version, volumes, regionCount,
                                                reservedPerRegion, countersEnd, markInfoBlock)
NLOHMANN_DEFINE_TYPE_NON_INTRUSIVE_WITH_DEFAULT(PackageSpec, pageSize, blockKiB, seed, bootloader,
                                                extBootloaderLength, romInfo, entries, fs,
                                                fsAreaStartBlock, romSpareBlocks, fsAreaExtraBlocks)

nlohmann::json toJson(const PackageSpec& spec) { return spec; }

PackageSpec fromJson(const nlohmann::json& j) { return j.get<PackageSpec>(); }

}  // namespace pkgbuild
