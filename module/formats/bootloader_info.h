#pragma once
// The bootloader information record ("MTK_BLOADER_INFO_v...") at the end of
// the bootloader image, followed by a u32 holding the record's length.
#include <cstdint>
#include <string_view>

#include "formats/image_buffer.h"

namespace hx {

inline constexpr std::string_view kBootloaderInfoMarker = "MTK_BLOADER_INFO_v";
inline constexpr uint32_t kBootloaderInfoBufferSize = 136;

// Offsets inside the record.
inline constexpr uint32_t kBootloaderInfoVersionOffset = 18;
inline constexpr uint32_t kBootloaderInfoHeaderWordOffset = 88;  // sent verbatim in the bootloader header
inline constexpr uint32_t kBootloaderInfoSeedOffset = 92;        // seed of the word checksums
inline constexpr uint32_t kBootloaderInfoExtraWordOffset = 96;   // sent after the bootloader's length

// Results of extractBootloaderInfo.
inline constexpr int kBootloaderInfoExtracted = 0;
inline constexpr int kBootloaderInfoMissing = 5028;   // no length word, record outside the image, no marker
inline constexpr int kBootloaderInfoTooShort = 1009;  // record shorter than its version needs

// 1 -> 108, 2 -> 132, 3 -> 136; 0 for any other version.
uint32_t bootloaderInfoSizeForVersion(uint32_t version);

// Fills the 136-byte `destination` from the end of the bootloader image: the
// record's bytes for versions 1 to 3 (zeros after them), all zeros for any
// other version. On failure `destination` is not written.
int extractBootloaderInfo(const ImageBuffer& bootloader, uint8_t* destination);

// The version number of a 136-byte buffer that extractBootloaderInfo filled
// (0 when it holds no record).
uint32_t bootloaderInfoVersion(const uint8_t* info);

}  // namespace hx
