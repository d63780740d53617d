#include "package/package_verdict.h"

#include <optional>
#include <span>

#include "formats/fs_header.h"
#include "formats/fs_image_checks.h"
#include "formats/fs_image_header.h"
#include "formats/rom_info.h"
#include "formats/bootloader_info.h"

namespace hx {

namespace {

PackageVerdict refuse(std::string reason) { return PackageVerdict{false, std::move(reason)}; }

std::string checkBootloaderInfo(const PackageRecords& records) {
  uint8_t info[kBootloaderInfoBufferSize];
  switch (extractBootloaderInfo(records.bootloader, info)) {
    case kBootloaderInfoExtracted: return {};
    case kBootloaderInfoTooShort: return "the bootloader information record is shorter than its version needs";
    default: return "the bootloader has no bootloader information record";
  }
}

std::string checkRomImages(const PackageRecords& records, uint32_t& fsAreaStart) {
  if (records.romImage.length == 0) return "the ROM image is empty";
  if (records.secondaryRomImage.length == 0) return "the secondary ROM image is empty";
  uint8_t romInfo[kRomInfoRecordMax] = {};
  const std::span<const uint8_t> rom(records.romImage.data, records.romImage.length);
  if (!findRomInfoMarker(rom)) return "the ROM image has no ROM information marker in its first 0x100000 bytes";
  if (extractRomInfo(records.romImage, romInfo) != kRomInfoExtracted) {
    return "the ROM image is too short for its ROM information record";
  }
  if (romInfoAreaCount(romInfo) < 2) return "the ROM information record has fewer than two area-table entries";
  if (romInfoFsAreaLength(romInfo) == 0) return "the ROM information record's FS area has length 0";
  fsAreaStart = romInfoFsAreaStart(romInfo);
  return {};
}

// An FS image is judged only as far as finding its FsHeader needs; an image
// of another FS version is skipped by the writer whatever its other fields
// say, so only an image that will be written gets the full checks.
std::string checkFsImage(const ImageBuffer& record, uint32_t fsAreaStart) {
  const std::span<const uint8_t> image(record.data, record.length);
  FsImageHeader header;
  std::string problem;
  if (!readFsImageFields(image, header, &problem)) return problem;
  const std::optional<FsHeader> fsHeader = fsImageFsHeader(image, header);
  if (!fsHeader) return "its info block holds no FsHeader";
  if (!isFsVersion520(*fsHeader)) return {};
  if (!parseFsImageHeader(image, header, &problem)) return problem;
  if (problem = fsMappingTableProblem(header); !problem.empty()) return problem;
  if (problem = fsInfoAreaProblem(*fsHeader); !problem.empty()) return problem;
  return fsImageProblemForBase(header, fsAreaStart / header.geometry.blockDataSize);
}

}  // namespace

PackageVerdict judgePackage(const PackageRecords& records) {
  if (!records.loaded) return refuse("the package did not load: " + records.loadFailure);
  if (auto problem = checkBootloaderInfo(records); !problem.empty()) return refuse(problem);
  uint32_t fsAreaStart = 0;
  if (auto problem = checkRomImages(records, fsAreaStart); !problem.empty()) return refuse(problem);
  if (records.fsImagesInPackage > kFsImageAddresses) {
    return refuse("the package yields " + std::to_string(records.fsImagesInPackage) +
                  " FS images; only 4 have an address");
  }
  for (uint32_t k = 0; k < kFsImageAddresses; ++k) {
    const ImageBuffer& fs = records.fsImages[k];
    if (fs.data == nullptr && fs.length == 0) continue;
    if (auto problem = checkFsImage(fs, fsAreaStart); !problem.empty()) {
      return refuse("FS image " + std::to_string(k) + " is malformed: " + problem);
    }
  }
  return PackageVerdict{true, {}};
}

}  // namespace hx
