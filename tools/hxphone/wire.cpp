#include "hxphone/wire.h"

#include <cstdio>

namespace hxphone {

uint16_t byteSum16(std::span<const uint8_t> bytes) {
  uint32_t sum = 0;
  for (uint8_t b : bytes) sum += b;
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
