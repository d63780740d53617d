#pragma once
// PackageLayout: what the builder wrote, in the terms a phone ends up holding
// after a correct flash. It holds positions in the package bytes, never copies
// of them, so a 256 MiB package costs one buffer; BuiltPackage (package_builder.h)
// turns the positions into bytes.
//
// A phone's verify needs nothing else:
//   - the bootloader and ext bootloader exactly as the module cuts them out of
//     the first two entries (`bootloader`, `extBootloader`);
//   - the primary and secondary ROM images (`primaryRom`, `secondaryRom`: the
//     last image of type 4 and of type 5) and where the RomInfo record lies;
//   - the FS area the RomInfo declares (area entry 1) and the format area (last entry);
//   - every FS image the module produces, after the 5.2.0 split, in the order
//     the module produces them: its header fields, the mapped blocks (region,
//     absolute NAND block) in logical order, the reserved blocks, the FsHeader,
//     the info block's raw bytes and every data block's raw bytes (page data and
//     spare; an erased page is 0xFF in both).
#include <cstdint>
#include <vector>

#include "pkgbuild/nand_format.h"

namespace pkgbuild {

// Page data of consecutive raw pages: `length` data bytes whose first byte is
// at file offset `fileOffset` (inside some page's data); spare bytes are skipped.
struct PageDataRef {
  uint64_t fileOffset = 0;
  uint32_t length = 0;
};

// One record of the entry table as written.
struct EntryLayout {
  uint32_t type = 0;
  uint32_t firstBlock = 0;
  uint32_t blockCount = 0;
  uint64_t recordOffset = 0;  // file offset of its 16-byte record
};

// An image entry (type 4, 5 or 8), numbered n = 1, 2, ... in table order.
struct ImageLayout {
  uint32_t type = 0;
  uint32_t number = 0;         // n
  uint32_t entryIndex = 0;     // index into PackageLayout::entries
  PageDataRef data;            // the image bytes (length = the table length when that is not overridden)
  uint32_t tableLength = 0;    // what the ImageTable says
  uint32_t tableOffset = 0;    // 16n + 4 (n <= 9) or 16n + 8 (n >= 10); 0 when n > 19 (no slot)
};

// An FS entry of the package as written.
struct FsEntryLayout {
  uint32_t entryIndex = 0;          // index into PackageLayout::entries
  uint32_t fsRecipe = 0;              // index into PackageRecipe::fs
  uint64_t headerFileOffset = 0;    // the entry's FsImageHeader (48 bytes, then the words)
  uint64_t infoBlockFileOffset = 0; // its FS info block (raw)
  uint64_t fsHeaderFileOffset = 0;  // the 512-byte FsHeader inside the info block
  FsImageHeaderFields header;       // the entry's own header
  FsHeaderFields fsHeader;
  uint32_t infoAreaBlocks = 0;      // ceil(countersEnd / blockDataSize)
  bool multiVolume = false;         // marked info page and version 5.2.0: the module splits it
};

// One FS image the module produces, in production order.
struct FsImageLayout {
  uint32_t fsEntry = 0;            // index into PackageLayout::fsEntries
  int32_t volume = -1;             // volume index for a split image, -1 for a raw copy
  bool hasFsHeader = false;        // its info block carries a marked page
  bool written = false;            // FsHeader version 5.2.0: the FS writer writes it; otherwise it
                                   // is skipped (no FsHeader: the download fails with 4056)
  uint32_t address = 0;            // 0x01800000, 0x05600000, 0x09600000, 0x0E600000; 0 from the fifth on
  FsImageHeaderFields header;      // as the image's header says
  FsHeaderFields fsHeader;
  std::vector<BlockRef> mappedBlocks;    // logical order
  std::vector<BlockRef> reservedBlocks;  // stored order
  uint64_t imageLength = 0;        // bytes of the image the module produces
  uint64_t rawFileOffset = 0;      // raw copy only: the image is the package bytes from here
  uint64_t infoBlockFileOffset = 0;                // raw info block in the package
  std::vector<uint64_t> infoAreaFileOffsets;       // the info-area blocks the image carries (first = info block)
  std::vector<uint64_t> dataBlockFileOffsets;      // raw data block d in the package (d < mappedCount)
};

struct PackageLayout {
  Geometry geometry;
  uint64_t packageSize = 0;
  uint32_t totalBlocks = 0;

  std::vector<EntryLayout> entries;  // file order, the three fixed ones first
  uint64_t terminatorOffset = 0;     // file offset of the all-0xFF record

  uint64_t spanOffset = 0;           // file offset of the bootloader span word (16)
  uint32_t span = 0;                 // bootloader length + 128
  uint64_t trailerOffset = 0;        // file offset of the 128-byte bootloader trailer
  PageDataRef bootloader;            // exactly what the module keeps (span - 128 bytes)
  PageDataRef extBootloader;         // the trailer's length
  uint32_t bootloaderInfoLength = 0; // L at the bootloader's end (0 without a record)

  uint64_t imageTableOffset = 0;     // file offset of the 324-byte ImageTable
  std::vector<ImageLayout> images;   // types 4, 5, 8 in table order
  PageDataRef primaryRom;            // last type 4 (length 0 when none)
  PageDataRef secondaryRom;          // last type 5 (length 0 when none)
  bool romInfoPresent = false;
  uint32_t romInfoOffset = 0;        // record offset inside each ROM image
  uint32_t romInfoVersion = 0;

  uint32_t romNandStartBlock = 2;    // where a phone keeps the primary ROM
  uint64_t fsAreaStart = 0;          // RomInfo area entry 1, bytes
  uint64_t fsAreaLength = 0;
  uint64_t fsFormatAreaStart = 0;    // RomInfo last area entry, bytes
  uint64_t fsFormatAreaLength = 0;

  std::vector<FsEntryLayout> fsEntries;
  std::vector<FsImageLayout> fsImages;
};

}  // namespace pkgbuild
