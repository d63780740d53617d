#include "package/package_verdict.h"

#include <optional>
#include <span>

#include "formats/fs_image_checks.h"
#include "formats/rom_info.h"
#include "formats/bootloader_info.h"
#include "package/fs_image_admission.h"

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

// An FS image the writer will write must also fit the FS area the package's
// ROM information declares; one it skips is not looked at further.
std::string checkFsImage(const ImageBuffer& record, uint32_t fsAreaStart) {
  const FsImageAdmission admission = admitFsImage(record);
  if (admission.fate == FsImageFate::kRefused) return admission.reason;
  if (admission.fate == FsImageFate::kSkipped) return {};
  const FsImageHeader& header = *admission.header;
  return fsImageProblemForBase(header, fsAreaStart / header.geometry.blockDataSize);
}

}  // namespace

PackageVerdict judgePackage(const PackageRecords& records) {
  if (!records.loaded) return refuse("the package did not load: " + records.loadFailure);
  if (auto problem = checkBootloaderInfo(records); !problem.empty()) return refuse(problem);
  uint32_t fsAreaStart = 0;
  if (auto problem = checkRomImages(records, fsAreaStart); !problem.empty()) return refuse(problem);
  if (yieldsMoreFsImagesThanAddresses(records)) {
    return refuse("the package yields " + std::to_string(records.fsImagesInPackage) +
                  " FS images; only 4 have an address");
  }
  const std::span<const ImageBuffer> fsImages = addressedFsImages(records);
  for (size_t k = 0; k < fsImages.size(); ++k) {
    if (auto problem = checkFsImage(fsImages[k], fsAreaStart); !problem.empty()) {
      return refuse("FS image " + std::to_string(k) + " is malformed: " + problem);
    }
  }
  return PackageVerdict{true, {}};
}

}  // namespace hx
