#pragma once
// What the FS area of a fresh phone (erased NAND, no bad blocks, no FS info
// block yet) holds after a package built by BuiltPackage has been flashed
// with it, worked out from the layout alone:
//
//   - the download is refused before any FS write when the package yields
//     more than four FS images or an FS image without an FsHeader;
//   - images whose FsHeader version is not 5.2.0 are skipped;
//   - each written image's data block d lands in NAND block mappedBlocks[d]
//     (an erased page stays 0xFF);
//   - the first image of an info area finds no info block there, so its
//     reserved blocks are formatted and its own info block goes to the last
//     reserved block of region 0; each later image of the same info area finds
//     that block, writes the (unchanged) info block to the last free region-0
//     spare that is not the current one and erases the old one, so the info
//     block alternates between the two last region-0 spares. With a single
//     region-0 spare the second image runs out of reserved blocks.
#include <cstdint>
#include <string>
#include <vector>

#include "pkgbuild/package_builder.h"

namespace pkgbuild {

struct ExpectedFsBlock {
  uint32_t block = 0;      // absolute NAND block
  bool erased = true;      // all 0xFF in data and spare
  uint64_t fileOffset = 0; // when not erased: the expected raw block is pkg.rawBlockAt(fileOffset)
};

struct FreshFlashExpectation {
  bool succeeds = true;
  std::string failure;                 // why not, when it does not
  std::vector<ExpectedFsBlock> fsBlocks;  // every block a written image maps or reserves, ascending
};

FreshFlashExpectation expectFreshFlash(const BuiltPackage& pkg);

}  // namespace pkgbuild
