#pragma once
// The module-wide records the package load fills once per module and every
// session reads afterwards.
#include <cstdint>
#include <memory>
#include <span>
#include <string>

#include "formats/image_buffer.h"

namespace hx {

struct LoadedPackage;  // package/package_image.h
class PackageSource;   // package/package_source.h

inline constexpr uint32_t kFsImageSlots = 6;      // room for FS image records
inline constexpr uint32_t kFsImageAddresses = 4;  // FS images that have a NAND address

struct PackageRecords {
  ImageBuffer bootloader;         // image type 0
  ImageBuffer extBootloader;      // image type 1
  ImageBuffer romImage;           // last image of type 4
  ImageBuffer secondaryRomImage;  // last image of type 5, address 0x4000
  ImageBuffer fsImages[kFsImageSlots];
  uint32_t fsImageCount = 0;      // FS images to write: 4 after the load

  bool loaded = false;            // the package was read and parsed
  std::string loadFailure;        // why it was not, for the refusal log line
  uint32_t fsImagesInPackage = 0; // FS images the package yielded (more than 4 is refused)

  // What the records point into: every image of the loaded package, its
  // geometry and entry table. Held as long as the records.
  std::shared_ptr<const LoadedPackage> contents;
};

// The module's records.
PackageRecords& packageRecords();

// The package's FS images, counted once by the load (`fsImagesInPackage`):
// the records hold the first six of them in package order, and the records
// after them are empty (the package held fewer FS images). Only the first
// four have an address; a package that yields more is refused.
bool yieldsMoreFsImagesThanAddresses(const PackageRecords& records);
// The records that hold the package's FS images (at most six).
std::span<const ImageBuffer> heldFsImages(const PackageRecords& records);
// Those of them that have an address (at most four): the ones a download writes.
std::span<const ImageBuffer> addressedFsImages(const PackageRecords& records);

// Reads and parses the package at `path` and fills `records` on success. On
// failure the records keep what they held and `records.loadFailure` says why.
bool loadPackage(const std::string& path, PackageRecords& records);

// The same from any source of package bytes; `name` names it in the log line.
bool loadPackageFrom(PackageSource& source, const std::string& name, PackageRecords& records);

// As loadPackage and loadPackageFrom, without the log line (for tools that
// report the failure themselves).
bool readPackageFileInto(const std::string& path, PackageRecords& records);
bool readPackageInto(PackageSource& source, PackageRecords& records);

}  // namespace hx
