#include "formats/bootloader_info.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "formats/little_endian.h"

namespace hx {

namespace {

// Decimal digits from `offset`, up to the first non-digit or `length`.
uint32_t decimalAt(const uint8_t* record, uint32_t offset, uint32_t length) {
  uint64_t value = 0;
  for (uint32_t i = offset; i < length && record[i] >= '0' && record[i] <= '9'; ++i) {
    value = std::min<uint64_t>(value * 10 + (record[i] - '0'), std::numeric_limits<uint32_t>::max());
  }
  return static_cast<uint32_t>(value);
}

}  // namespace

uint32_t bootloaderInfoSizeForVersion(uint32_t version) {
  switch (version) {
    case 1: return 108;
    case 2: return 132;
    case 3: return kBootloaderInfoBufferSize;
    default: return 0;
  }
}

int extractBootloaderInfo(const ImageBuffer& bootloader, uint8_t* destination) {
  if (bootloader.data == nullptr || bootloader.length < 4) return kBootloaderInfoMissing;
  const uint32_t recordLength = loadLe32(bootloader.data + bootloader.length - 4);
  if (uint64_t{bootloader.length} < uint64_t{recordLength} + 4 || recordLength < kBootloaderInfoMarker.size()) {
    return kBootloaderInfoMissing;
  }
  const uint8_t* record = bootloader.data + (bootloader.length - 4 - recordLength);
  if (std::memcmp(record, kBootloaderInfoMarker.data(), kBootloaderInfoMarker.size()) != 0) {
    return kBootloaderInfoMissing;
  }
  const uint32_t version = decimalAt(record, kBootloaderInfoVersionOffset, recordLength);
  const uint32_t size = bootloaderInfoSizeForVersion(version);
  if (recordLength < size) return kBootloaderInfoTooShort;
  uint8_t work[kBootloaderInfoBufferSize] = {};
  std::memcpy(work, record, size);
  std::memcpy(destination, work, sizeof work);
  return kBootloaderInfoExtracted;
}

uint32_t bootloaderInfoVersion(const uint8_t* info) {
  if (std::memcmp(info, kBootloaderInfoMarker.data(), kBootloaderInfoMarker.size()) != 0) return 0;
  return decimalAt(info, kBootloaderInfoVersionOffset, kBootloaderInfoBufferSize);
}

}  // namespace hx
