#pragma once
// The package file's layout: a 32-byte header with the page geometry, then a
// table of 16-byte entries naming runs of raw blocks, ended by a record of
// sixteen 0xFF bytes.
#include <cstdint>
#include <string>
#include <vector>

#include "formats/image_buffer.h"
#include "package/package_source.h"

namespace hx {

inline constexpr uint32_t kPackageHeaderSize = 32;
inline constexpr uint32_t kPackageEntrySize = 16;

struct PackageHeader {
  uint16_t pageSize = 0;  // data bytes per page
  uint16_t blockKiB = 0;  // data bytes per block / 1024
};

struct PackageEntry {
  uint32_t firstBlock = 0;  // first raw block
  uint32_t blockCount = 0;  // raw blocks
  uint8_t type = 0;         // kind of content (from the fourth entry on)
};

// Entry types from the fourth entry on.
inline constexpr uint8_t kEntryRomImage = 4;
inline constexpr uint8_t kEntrySecondaryRomImage = 5;
inline constexpr uint8_t kEntryListedImage = 8;
inline constexpr uint8_t kEntrySkipped = 9;
inline constexpr uint8_t kEntryFsImage = 10;

// 16 spare bytes for 512-byte pages, 64 for every other page size.
NandGeometry geometryFromHeader(const PackageHeader& header);

// Reads the header and the entry table up to its terminator. False, with the
// reason in `problem`, when the file is too short for the header, the table
// has no terminator, or the geometry cannot describe a raw block (page size
// 0 or below 512 bytes, block size 0 or smaller than a page).
bool readPackageLayout(PackageSource& source, PackageHeader& header, NandGeometry& geometry,
                       std::vector<PackageEntry>& entries, std::string& problem);

}  // namespace hx
