#pragma once
// The images a package load lifts out of the package, in processing order,
// and what the load learnt about the package on the way.
#include <cstdint>
#include <memory>
#include <vector>

#include "formats/image_buffer.h"
#include "package/package_layout.h"

namespace hx {

// Image types.
inline constexpr uint32_t kImageBootloader = 0;
inline constexpr uint32_t kImageExtBootloader = 1;
inline constexpr uint32_t kImageRom = 4;
inline constexpr uint32_t kImageSecondaryRom = 5;
inline constexpr uint32_t kImageListed = 8;
inline constexpr uint32_t kImageFs = 10;

struct PackageImage {
  uint32_t type = 0;
  std::unique_ptr<uint8_t[]> bytes;  // page data, or raw blocks for FS images
  uint32_t length = 0;
  uint32_t entryIndex = 0;  // the entry it came from (0-based, file order)
  int32_t volume = -1;      // FS volume of a split FS image; -1 otherwise
};

struct LoadedPackage {
  PackageHeader header;
  NandGeometry geometry;
  std::vector<PackageEntry> entries;  // the whole table, in file order
  std::vector<PackageImage> images;
  uint32_t bootloaderSpan = 0;  // bootloader length + 128
};

}  // namespace hx
