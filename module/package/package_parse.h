#pragma once
// Turns a package into its images: the bootloader and ext bootloader from the
// first two entries, image lengths from the image table of the third, then
// ROM, secondary ROM, listed and FS images by entry type.
#include <string>

#include "package/package_image.h"
#include "package/package_source.h"

namespace hx {

inline constexpr uint32_t kImageTableSize = 324;
inline constexpr uint32_t kImageTableLengths = 19;
inline constexpr uint32_t kBootloaderAreaHead = 512;  // the bootloader follows
inline constexpr uint32_t kBootloaderSpanOffset = 16;
inline constexpr uint32_t kBootloaderTrailerSize = 128;
inline constexpr uint32_t kTrailerExtLengthOffset = 20;

// Table offset of image n's length (n = 1..19).
inline constexpr uint32_t imageTableLengthOffset(uint32_t n) { return n <= 9 ? 16 * n + 4 : 16 * n + 8; }

// Fills `package` from `source`. False, with the reason in `problem`, when
// anything in the package is missing, inconsistent or reaches outside it.
bool parsePackage(PackageSource& source, LoadedPackage& package, std::string& problem);

}  // namespace hx
