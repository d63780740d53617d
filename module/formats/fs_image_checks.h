#pragma once
// Checks of a parsed FS image against the first FS block of the NAND it goes
// to (FS area start / blockDataSize): made before anything of it is written.
#include <cstdint>
#include <string>

#include "formats/fs_image_header.h"

namespace hx {

// Empty when the image fits; otherwise why not: a mapped block below `base`,
// a reserved block at or below `base` (a spare at `base` would be recorded as
// 0, "no replacement"), remap entries outside the info block's page data, or
// a region tag of 8 or more (the info block holds eight region counters).
std::string fsImageProblemForBase(const FsImageHeader& header, uint32_t base);

}  // namespace hx
