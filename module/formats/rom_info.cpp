#include "formats/rom_info.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "formats/little_endian.h"

namespace hx {

std::optional<uint32_t> findRomInfoMarker(std::span<const uint8_t> bytes) {
  const size_t window = std::min<size_t>(bytes.size(), kRomInfoSearchEnd - 1 + kRomInfoMarker.size());
  const auto begin = bytes.begin();
  const auto end = begin + static_cast<std::ptrdiff_t>(window);
  const auto found = std::search(begin, end, kRomInfoMarker.begin(), kRomInfoMarker.end(),
                                 [](uint8_t a, char b) { return a == static_cast<uint8_t>(b); });
  if (found == end) return std::nullopt;
  return static_cast<uint32_t>(found - begin);
}

uint32_t romInfoVersion(std::span<const uint8_t> record) {
  uint64_t version = 0;
  for (size_t i = kRomInfoVersionOffset; i < record.size(); ++i) {
    const uint8_t c = record[i];
    if (c < '0' || c > '9') break;
    version = std::min<uint64_t>(version * 10 + (c - '0'), std::numeric_limits<uint32_t>::max());
  }
  return static_cast<uint32_t>(version);
}

uint32_t romInfoSizeForVersion(uint32_t version) {
  switch (version) {
    case 4: return 320;
    case 5: return 332;
    case 6: return 340;
    default: return kRomInfoRecordMax;
  }
}

namespace {

// Upper-cases ASCII letters from `offset` up to the first NUL or `end`.
void upperCaseText(uint8_t* record, uint32_t offset, uint32_t end) {
  for (uint32_t i = offset; i < end && record[i] != 0; ++i) {
    if (record[i] >= 'a' && record[i] <= 'z') record[i] = static_cast<uint8_t>(record[i] - 'a' + 'A');
  }
}

}  // namespace

int extractRomInfo(const ImageBuffer& romImage, uint8_t* destination) {
  if (romImage.data == nullptr || romImage.length < kRomInfoMinImageLength) return kRomInfoImageTooShort;
  const std::span<const uint8_t> image(romImage.data, romImage.length);
  const auto marker = findRomInfoMarker(image);
  if (!marker) return kRomInfoNoMarker;
  const auto record = image.subspan(*marker);
  const uint32_t version = romInfoVersion(record);
  const uint32_t copied = static_cast<uint32_t>(std::min<size_t>(romInfoSizeForVersion(version), record.size()));
  std::memcpy(destination, record.data(), copied);
  if (version >= 4) {
    upperCaseText(destination, kRomInfoNameOffset, copied);
    upperCaseText(destination, kRomInfoSecondNameOffset, copied);
  }
  return kRomInfoExtracted;
}

uint16_t romInfoAreaCount(const uint8_t* romInfo) { return loadLe16(romInfo + kRomInfoAreaCountOffset); }

std::optional<RomInfoArea> romInfoArea(const uint8_t* romInfo, uint32_t index) {
  const uint64_t entry = kRomInfoAreaTableOffset + uint64_t{index} * kRomInfoAreaEntrySize;
  if (entry + kRomInfoAreaEntrySize > kRomInfoRecordMax) return std::nullopt;
  return RomInfoArea{loadLe32(romInfo + entry + 8), loadLe32(romInfo + entry + 12)};
}

uint32_t romInfoFsAreaStart(const uint8_t* romInfo) { return loadLe32(romInfo + kRomInfoFsAreaStartOffset); }
uint32_t romInfoFsAreaLength(const uint8_t* romInfo) { return loadLe32(romInfo + kRomInfoFsAreaLengthOffset); }

bool romInfoHasFsFormatTag(const uint8_t* romInfo) {
  return std::memcmp(romInfo + kRomInfoFormatTagOffset, kFsFormatTag.data(), kFsFormatTag.size()) == 0;
}

}  // namespace hx
