#pragma once
// Changes to a built package for tests of the reader: the hostile cases a
// recipe cannot describe. After a mutation the layout describes the package as
// it was built, not as it now is.
//
//   patchLe16(pkg, 0, 0);                              // pageSize 0
//   patchLe16(pkg, 2, 0);                              // blockKiB 0
//   patchLe32(pkg, pkg.layout.spanOffset, 100);        // span below 128
//   patchEntry(pkg, 3, {.firstBlock = 1u << 20});      // entry past the end
//   patchLe32(pkg, pkg.layout.fsEntries[0].headerFileOffset + 4, 0);  // regionCount 0
//   removeTerminator(pkg);                             // table without terminator
//   patchEntry(pkg, 5, {.blockCount = 2});             // raw FS image shorter than its header
#include <cstdint>
#include <optional>
#include <span>

#include "pkgbuild/package_builder.h"

namespace pkgbuild {

// Little-endian writes at a file offset; throw std::out_of_range outside the package.
void patchLe16(BuiltPackage& pkg, uint64_t fileOffset, uint16_t value);
void patchLe32(BuiltPackage& pkg, uint64_t fileOffset, uint32_t value);

struct EntryPatch {
  std::optional<uint32_t> firstBlock;
  std::optional<uint32_t> blockCount;
  std::optional<uint8_t> type;
};
// Rewrites fields of entry `index` (0 = the bootloader area) in the table.
void patchEntry(BuiltPackage& pkg, size_t index, const EntryPatch& patch);

// Writes bytes into an image's page data at image offset `offset` (the bytes
// may cross pages; spare bytes are skipped), e.g. to damage a RomInfo record.
void patchPageData(BuiltPackage& pkg, const PageDataRef& ref, uint32_t offset,
                   std::span<const uint8_t> bytes);

// Cuts the package to `size` bytes.
void truncatePackage(BuiltPackage& pkg, uint64_t size);

// Cuts the package right before the terminator: the entry table then runs to
// the end of the file without one.
void removeTerminator(BuiltPackage& pkg);

}  // namespace pkgbuild
