#pragma once
// What `hxflash inspect` reports of a package: the package loaded once with
// the module's own reader, and what the module will do with each of its parts.
// Both printers (report_printers.h) print from this report alone.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "formats/fs_image_header.h"
#include "formats/image_buffer.h"
#include "package/package_layout.h"
#include "package/package_verdict.h"

namespace hxflash {

struct EntryRow {
  size_t index = 0;  // 1-based, file order
  hx::PackageEntry entry;
  std::string role;
};

struct ImageRow {
  uint32_t type = 0;
  uint32_t entry = 0;  // 1-based
  int32_t volume = -1;
  uint32_t length = 0;
  std::string record;  // which module record it fills
  uint32_t address = 0;
  uint32_t crc32 = 0;
};

struct BootloaderInfoReport {
  int result = 0;
  uint32_t version = 0;
  uint32_t recordSize = 0;
  uint32_t headerWord = 0;
  uint32_t checksumSeed = 0;
  uint32_t word96 = 0;
};

struct RomArea {
  uint32_t start = 0;
  uint32_t length = 0;
};

struct RomInfoReport {
  int result = 0;
  uint32_t offset = 0;  // in the ROM image
  uint32_t version = 0;
  uint32_t recordSize = 0;
  std::string name;
  std::string secondName;
  uint16_t areaCount = 0;
  std::vector<RomArea> areas;
  uint32_t fsAreaStart = 0;
  uint32_t fsAreaLength = 0;
  std::string formatTag;
};

struct FsVolumeRow {
  uint32_t volume = 0;
  uint32_t start = 0;
  uint32_t length = 0;
};

struct FsHeaderReport {
  std::string version;
  bool written = false;  // only 5.2.0 images are written
  uint32_t infoAreaStart = 0;
  uint32_t infoAreaLength = 0;
  std::vector<FsVolumeRow> volumes;
};

struct FsImageReport {
  uint32_t index = 0;
  uint32_t address = 0;
  uint32_t length = 0;
  std::string problem;                     // malformed: why
  std::optional<hx::FsImageHeader> header;
  uint32_t firstMappedBlock = 0;
  std::optional<FsHeaderReport> fsHeader;  // none: no marked page in the info block
};

struct PackageReport {
  std::string package;
  std::optional<uint64_t> size;
  bool loaded = false;
  std::string loadFailure;
  std::optional<hx::NandGeometry> geometry;
  std::optional<std::vector<EntryRow>> entries;
  // Only for a package that loaded:
  uint32_t bootloaderSpan = 0;
  std::vector<ImageRow> images;
  BootloaderInfoReport bootloaderInfo;
  RomInfoReport romInfo;
  uint32_t fsImagesInPackage = 0;
  std::vector<FsImageReport> fsImages;
  hx::PackageVerdict verdict;
};

// The report of the package file at `path`, named `name` in it. A package
// that does not load still gets its geometry and entry table when they can
// be read.
PackageReport reportPackage(const std::string& path, const std::string& name);

}  // namespace hxflash
