#include "hxphone/wire.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace hxphone {

// Eight bytes at a time: the even and the odd bytes of a 64-bit word are
// added into four 16-bit lanes. A lane gains at most 2 x 255 a word, so the
// lanes are added into the total every 128 words, before one could overflow.
uint16_t byteSum16(std::span<const uint8_t> bytes) {
  constexpr uint64_t kAlternateBytes = 0x00FF00FF00FF00FFull;
  constexpr uint64_t kAlternateLanes = 0x0000FFFF0000FFFFull;
  constexpr size_t kWordsPerFold = 128;
  uint32_t sum = 0;
  size_t i = 0;
  while (bytes.size() - i >= 8) {
    const size_t words = std::min((bytes.size() - i) / 8, kWordsPerFold);
    uint64_t lanes = 0;
    for (size_t w = 0; w < words; ++w, i += 8) {
      uint64_t word;
      std::memcpy(&word, bytes.data() + i, sizeof word);
      lanes += (word & kAlternateBytes) + ((word >> 8) & kAlternateBytes);
    }
    lanes = (lanes & kAlternateLanes) + ((lanes >> 16) & kAlternateLanes);
    sum += static_cast<uint32_t>(lanes) + static_cast<uint32_t>(lanes >> 32);
  }
  for (; i < bytes.size(); ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

uint16_t wordXor16(std::span<const uint8_t> bytes) {
  uint16_t x = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) x ^= loadLe16(bytes.data() + i);
  return x;
}

uint32_t wordXor32(std::span<const uint8_t> bytes, uint32_t seed) {
  uint32_t x = seed;
  size_t i = 0;
  for (; i + 4 <= bytes.size(); i += 4) x ^= loadLe32(bytes.data() + i);
  if (i < bytes.size()) {
    uint8_t last[4] = {0, 0, 0, 0};
    for (size_t k = 0; i + k < bytes.size(); ++k) last[k] = bytes[i + k];
    x ^= loadLe32(last);
  }
  return x;
}

std::string hex(uint32_t value, int digits) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", digits, value);
  return text;
}

}  // namespace hxphone
