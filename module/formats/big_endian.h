#pragma once
// Big-endian numbers as the serial wire carries them (most significant byte
// first). The callers check that the bytes lie inside their buffer.
#include <cstdint>

namespace hx {

inline uint16_t loadBe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

inline uint32_t loadBe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 | static_cast<uint32_t>(p[2]) << 8 |
         p[3];
}

// Store `v` at `p` and return the position after it, for building frames.
inline uint8_t* putU16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 8);
  p[1] = static_cast<uint8_t>(v);
  return p + 2;
}

inline uint8_t* putU32(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v >> 24);
  p[1] = static_cast<uint8_t>(v >> 16);
  p[2] = static_cast<uint8_t>(v >> 8);
  p[3] = static_cast<uint8_t>(v);
  return p + 4;
}

}  // namespace hx
