#pragma once
// Checks of a parsed FS image, on its own and against the first FS block of
// the NAND it goes to (FS area start / blockDataSize): made before anything of
// it is written.
#include <cstdint>
#include <string>

#include "formats/fs_image_header.h"

namespace hx {

// Empty when the image fits; otherwise why not: a mapped block below `base`,
// a reserved block at or below `base` (a spare at `base` would be recorded as
// 0, "no replacement"), remap entries outside the info block's page data, or
// a region tag of 8 or more (the info block holds eight region counters).
std::string fsImageProblemForBase(const FsImageHeader& header, uint32_t base);

// Empty when the mapping table names every data block once and no data block
// also as a spare; otherwise which block is named twice (one write would go
// over the other). A spare named twice is taken once, and is no problem.
std::string fsMappingTableProblem(const FsImageHeader& header);

// Empty when the download agent's block transfers can carry the image's
// geometry: write-block sends a block as whole packets of pages with their
// spare bytes (32 pages of 512 bytes, or 8 of 2048), and read-back addresses
// a block by its byte address and length. Otherwise why not, naming the page
// size and block size the image declares.
std::string fsGeometryProblem(const FsImageHeader& header);

// Empty when read-back can address the info area the FsHeader names: its start
// and length on 2 KiB boundaries and its end within 4 GiB.
std::string fsInfoAreaProblem(const FsHeader& fsHeader);

}  // namespace hx
