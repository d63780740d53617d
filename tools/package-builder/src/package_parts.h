#pragma once
// The writers of the package's parts. Each writes its part into the package
// buffer (already sized and erased to 0xFF) and records it in the layout.
#include <cstdint>
#include <vector>

#include "package_plan.h"
#include "pkgbuild/package_layout.h"
#include "pkgbuild/package_recipe.h"

namespace pkgbuild::detail {

// Entry 1: the area head (package header, entry table, terminator, span word),
// the bootloader with its BootloaderInfo record, and the trailer.
void writeBootloaderArea(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                         PackageLayout& layout);

// Entry 2: the ext bootloader.
void writeExtBootloader(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                        PackageLayout& layout);

// Entry 3: the image-table block, with the lengths of the images in `layout.images`.
void writeImageTableBlock(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                          PackageLayout& layout);

// An entry that holds page data (types other than 10); type-4 images get the RomInfo record.
void writeImageEntry(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                     size_t recipeIndex, PackageLayout& layout);

// A type-10 entry: image header and mapping words, info area, volume data blocks.
void writeFsEntry(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                  size_t recipeIndex, PackageLayout& layout);

// The FS images the module makes of the FS entries, in its order.
void describeFsImages(const PackageRecipe& recipe, const Plan& plan, PackageLayout& layout);

// ImageTable offset of image n's length; 0 when n has no slot (n > 19).
uint32_t imageTableOffsetOf(uint32_t n);

// The 352-byte RomInfo record.
std::vector<uint8_t> romInfoRecord(const RomInfoRecipe& recipe, const Plan& plan);

}  // namespace pkgbuild::detail
