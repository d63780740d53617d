#include "package/package_records.h"

#include <algorithm>

namespace hx {

PackageRecords& packageRecords() {
  static PackageRecords records;
  return records;
}

bool yieldsMoreFsImagesThanAddresses(const PackageRecords& records) {
  return records.fsImagesInPackage > kFsImageAddresses;
}

std::span<const ImageBuffer> heldFsImages(const PackageRecords& records) {
  return std::span<const ImageBuffer>(records.fsImages).first(std::min(records.fsImagesInPackage, kFsImageSlots));
}

std::span<const ImageBuffer> addressedFsImages(const PackageRecords& records) {
  return heldFsImages(records).first(std::min(records.fsImagesInPackage, kFsImageAddresses));
}

}  // namespace hx
