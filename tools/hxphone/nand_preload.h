#pragma once
// Starting states of a phone's NAND other than blank: the phone holds an
// older firmware built from the same package description (another seed, so
// every image differs), with an FS info block of the package's version and
// layout (remap entries and region counters for the requested remaps, whose
// original blocks have since gone bad), or of another version (5.1.0).
//
// The old info block sits where a previous flash put it: the last reserved
// block of region 0 that no remap uses.
#include <cstdint>
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

struct PreloadRequest {
  std::string packagePath;  // its .desc.json is read
  bool sameVersion = true;
  std::vector<PreloadRemap> remaps;
};

// What a preloaded phone holds, for tests that check the host's behaviour.
struct PreloadedState {
  std::vector<uint32_t> oldInfoBlocks;  // one per info area
};

NandModel preloadedNand(const PhoneOptions& options, const PreloadRequest& request);
NandModel preloadOlderFirmware(const PhoneOptions& options, const pkgbuild::PackageRecipe& recipe, bool sameVersion,
                               const std::vector<PreloadRemap>& remaps, PreloadedState* state = nullptr);

}  // namespace hxphone
