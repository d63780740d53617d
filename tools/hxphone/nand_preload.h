#pragma once
// Starting states of a phone's NAND other than blank: the phone holds an
// older firmware built from the same package description (another seed, so
// every image differs), with an FS info block of the package's version and
// layout (remap entries and region counters for the requested remaps, whose
// original blocks have since gone bad, and counters set outright), or of
// another version (5.1.0).
//
// The old info block sits where a previous flash put it: the last reserved
// block of region 0 that no remap uses.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "hxphone/nand_model.h"
#include "hxphone/phone_options.h"
#include "pkgbuild/package_builder.h"

namespace hxphone {

struct PreloadRemap {
  uint32_t dataBlock = 0;  // data block d of the package's first FS image
  uint32_t spare = 0;      // absolute NAND block: a reserved block of d's region
};

// The older firmware a preloaded phone holds.
struct OlderFirmware {
  bool sameVersion = true;            // FsHeader version of the package, else 5.1.0
  std::vector<PreloadRemap> remaps;
  std::map<uint32_t, uint16_t> counters;  // region tag (0..7) -> its counter in every info block,
                                          // replacing what the remaps give (a worn phone)
};

struct PreloadRequest {
  std::string packagePath;  // its .desc.json is read
  OlderFirmware firmware;
};

// What a preloaded phone holds, for tests that check the host's behaviour.
struct PreloadedState {
  std::vector<uint32_t> oldInfoBlocks;  // one per info area
};

NandModel preloadedNand(const PhoneOptions& options, const PreloadRequest& request);
NandModel preloadOlderFirmware(const PhoneOptions& options, const pkgbuild::PackageRecipe& recipe,
                               const OlderFirmware& firmware, PreloadedState* state = nullptr);

}  // namespace hxphone
