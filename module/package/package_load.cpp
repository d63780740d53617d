#include "package/package_image.h"
#include "package/package_parse.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "platform/log.h"

namespace hx {

namespace {

constexpr uint32_t kSecondaryRomAddress = 0x4000;
constexpr uint32_t kFsImageAddress[kFsImageAddresses] = {0x01800000, 0x05600000, 0x09600000, 0x0E600000};

ImageBuffer bufferOf(const PackageImage& image, uint32_t address) {
  return ImageBuffer{image.bytes.get(), image.length, address};
}

// Points the records at the images: the bootloader, the ext bootloader, the
// last ROM and secondary ROM images, and the FS images in package order.
// Records of images the package does not hold are cleared, so that none
// points into the contents of an earlier load.
void handOver(std::shared_ptr<const LoadedPackage> contents, PackageRecords& records) {
  records.bootloader = records.extBootloader = records.romImage = records.secondaryRomImage = ImageBuffer{};
  for (auto& fs : records.fsImages) fs = ImageBuffer{};
  uint32_t fsCount = 0;
  for (const PackageImage& image : contents->images) {
    switch (image.type) {
      case kImageBootloader: records.bootloader = bufferOf(image, 0); break;
      case kImageExtBootloader: records.extBootloader = bufferOf(image, 0); break;
      case kImageRom: records.romImage = bufferOf(image, 0); break;
      case kImageSecondaryRom: records.secondaryRomImage = bufferOf(image, kSecondaryRomAddress); break;
      case kImageFs:
        if (fsCount < kFsImageSlots) {
          records.fsImages[fsCount] = bufferOf(image, fsCount < kFsImageAddresses ? kFsImageAddress[fsCount] : 0);
        }
        ++fsCount;
        break;
      default: break;
    }
  }
  records.fsImagesInPackage = fsCount;
  records.contents = std::move(contents);
}

bool refuse(const std::string& reason, PackageRecords& records) {
  records.loaded = false;
  records.loadFailure = reason;
  return false;
}

bool logged(bool loaded, const std::string& name, const PackageRecords& records) {
  if (!loaded) logMessage("Package %s not loaded: %s\n", name.c_str(), records.loadFailure.c_str());
  return loaded;
}

}  // namespace

bool readPackageInto(PackageSource& source, PackageRecords& records) {
  auto contents = std::make_shared<LoadedPackage>();
  std::string problem;
  if (!parsePackage(source, *contents, problem)) return refuse(problem, records);
  handOver(std::move(contents), records);
  records.loaded = true;
  records.loadFailure.clear();
  return true;
}

bool readPackageFileInto(const std::string& path, PackageRecords& records) {
  std::string problem;
  auto source = openPackageFile(path, problem);
  if (!source) return refuse(problem, records);
  return readPackageInto(*source, records);
}

bool loadPackageFrom(PackageSource& source, const std::string& name, PackageRecords& records) {
  return logged(readPackageInto(source, records), name, records);
}

bool loadPackage(const std::string& path, PackageRecords& records) {
  return logged(readPackageFileInto(path, records), path, records);
}

}  // namespace hx
