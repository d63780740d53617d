#pragma once
// Inputs for the phone tests: agent images and device tables of the right
// shape, a bootloader carrying its information record, ROM images carrying
// their ROM information record, and small phone options.
#include <cstdint>
#include <vector>

#include "hxphone/phone_options.h"

namespace hxphone::test {

using Bytes = std::vector<uint8_t>;

Bytes patternBytes(size_t n, uint32_t seed);
Bytes da1Image();
Bytes da2Image();
Bytes norTable();
// 106 records; record 5 describes 0xEC/0xF1 (2048-byte pages), record 9 0xEC/0x76 (512-byte pages).
Bytes nandTable();
inline constexpr int kLargePageRecord = 5;
inline constexpr int kSmallPageRecord = 9;

// A bootloader of `length` bytes ending in a version-3 information record
// with the given seed.
Bytes bootloaderImage(size_t length, uint32_t seed);
inline constexpr uint32_t kBootloaderSeed = 0x1234ABCD;
// A primary ROM image with "MTK_ROMINFO_v5" at `recordOffset`.
Bytes primaryRomImage(size_t length, size_t recordOffset);

// Small, impatient phones for tests.
PhoneOptions largePagePhone();
PhoneOptions smallPagePhone();

}  // namespace hxphone::test
