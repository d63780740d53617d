#pragma once
// The ROM information record ("MTK_ROMINFO_v...") of the primary ROM image:
// marker search, record size by version, extraction and field access.
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "formats/image_buffer.h"

namespace hx {

inline constexpr std::string_view kRomInfoMarker = "MTK_ROMINFO_v";
inline constexpr uint32_t kRomInfoSearchEnd = 0x100000;  // the marker starts below this offset
inline constexpr uint32_t kRomInfoRecordMax = 352;        // a buffer of this size holds any record

// Offsets inside the record.
inline constexpr uint32_t kRomInfoVersionOffset = 13;
inline constexpr uint32_t kRomInfoNameOffset = 16;
inline constexpr uint32_t kRomInfoSecondNameOffset = 144;
inline constexpr uint32_t kRomInfoAreaCountOffset = 210;
inline constexpr uint32_t kRomInfoAreaTableOffset = 212;
inline constexpr uint32_t kRomInfoAreaEntrySize = 16;
inline constexpr uint32_t kRomInfoFsAreaStartOffset = 236;   // area table entry 1, start
inline constexpr uint32_t kRomInfoFsAreaLengthOffset = 240;  // area table entry 1, length
inline constexpr uint32_t kRomInfoFormatTagOffset = 332;
inline constexpr std::string_view kFsFormatTag = "05200001";

// Results of extractRomInfo.
inline constexpr int kRomInfoExtracted = 0;
inline constexpr int kRomInfoImageTooShort = 1;  // image shorter than 332 bytes
inline constexpr int kRomInfoNoMarker = 2;
inline constexpr uint32_t kRomInfoMinImageLength = 332;

// Offset of the first marker that starts at 0..0xFFFFF and lies wholly inside
// `bytes`; nothing when there is none.
std::optional<uint32_t> findRomInfoMarker(std::span<const uint8_t> bytes);

// Decimal digits at offset 13 of `record` (stops at the first non-digit or at
// the end of `record`; saturates instead of overflowing).
uint32_t romInfoVersion(std::span<const uint8_t> record);

// 4 -> 320, 5 -> 332, 6 -> 340, any other version -> 352.
uint32_t romInfoSizeForVersion(uint32_t version);

// Copies the record of the primary ROM image into `destination` (352 bytes):
// the version's size, or fewer when the image ends before that (nothing past
// the image is read). Bytes not copied keep their contents. From version 4 on
// the two name texts are upper-cased.
int extractRomInfo(const ImageBuffer& romImage, uint8_t* destination);

// Field access on a 352-byte record buffer.
struct RomInfoArea {
  uint32_t start = 0;   // byte address in NAND
  uint32_t length = 0;  // bytes
};
uint16_t romInfoAreaCount(const uint8_t* romInfo);
// Area table entry `index`; nothing when the entry would reach past the
// 352-byte buffer (index 8 and above).
std::optional<RomInfoArea> romInfoArea(const uint8_t* romInfo, uint32_t index);
uint32_t romInfoFsAreaStart(const uint8_t* romInfo);
uint32_t romInfoFsAreaLength(const uint8_t* romInfo);
bool romInfoHasFsFormatTag(const uint8_t* romInfo);

}  // namespace hx
