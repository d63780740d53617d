#pragma once
// The package builder: writes HX9120 firmware packages (raw NAND images with a
// 32-byte header and an entry table) from a PackageRecipe, and describes what it
// wrote in a PackageLayout.
//
//   pkgbuild::PackageRecipe recipe = pkgbuild::tinyRecipe(512);
//   pkgbuild::BuiltPackage pkg = pkgbuild::build(recipe);
//   auto rom = pkg.primaryRom();              // the ROM bytes the phone must hold
//   auto block = pkg.fsDataBlock(0, 3);       // raw data block 3 of FS image 0
//   pkgbuild::writePackage("fw.bin", recipe);   // fw.bin and fw.bin.desc.json
//
// Building is deterministic (the same recipe gives the same bytes on every
// platform) and holds one buffer of the package's size. Hostile variants for
// reader tests come from recipe knobs (entry types and order, table lengths,
// record versions, unmarked info blocks...) and from package_mutations.h.
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "pkgbuild/nand_format.h"
#include "pkgbuild/package_layout.h"
#include "pkgbuild/package_recipe.h"

namespace pkgbuild {

struct BuiltPackage {
  std::vector<uint8_t> bytes;  // the package file
  PackageLayout layout;

  // Page data at `ref` (spare bytes skipped), clipped to the package's end.
  std::vector<uint8_t> pageData(const PageDataRef& ref) const;
  std::vector<uint8_t> bootloader() const { return pageData(layout.bootloader); }
  std::vector<uint8_t> extBootloader() const { return pageData(layout.extBootloader); }
  std::vector<uint8_t> primaryRom() const { return pageData(layout.primaryRom); }
  std::vector<uint8_t> secondaryRom() const { return pageData(layout.secondaryRom); }

  // One raw block (page data and spare) starting at a file offset.
  std::span<const uint8_t> rawBlockAt(uint64_t fileOffset) const;
  std::span<const uint8_t> fsInfoBlock(size_t image) const;
  std::span<const uint8_t> fsDataBlock(size_t image, size_t d) const;

  // The exact bytes of FS image `image` as the module produces them: a raw
  // copy of the entry, or the split image (rebuilt header and mapping words,
  // 0xFF up to the info area, the info area, the volume's data blocks).
  std::vector<uint8_t> fsImage(size_t image) const;
};

// Builds the package. Throws std::invalid_argument when the recipe cannot be
// written as described (unknown page size, a record that does not fit in its
// image, more than 29 entries, an FS area too large for one info block, a
// package above 4 GiB...). Nothing is allocated before the recipe is checked.
BuiltPackage build(const PackageRecipe& recipe);

// Writes the package to `path` and its description to `<path>.desc.json`.
// Returns the built package. Throws std::runtime_error on I/O failure.
BuiltPackage writePackage(const std::string& path, const PackageRecipe& recipe);

// Reads a description written by writePackage (or by hand). Throws on failure.
PackageRecipe readRecipe(const std::string& descPath);

// `<packagePath>.desc.json`
std::string descPathFor(const std::string& packagePath);

}  // namespace pkgbuild
