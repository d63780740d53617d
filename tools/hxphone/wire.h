#pragma once
// Byte-level helpers of the phone's side of the wire: numbers on the serial
// line are big-endian, numbers inside images and NAND structures are
// little-endian, and the checksums the protocol carries.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace hxphone {

inline uint16_t loadLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t loadLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}
inline void storeLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void storeLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// Sum of all bytes modulo 65536: the packet sum of agent data packets.
uint16_t byteSum16(std::span<const uint8_t> bytes);

// XOR of the buffer's little-endian 16-bit words, starting from 0; a trailing
// odd byte is ignored. The BootROM's image checksum and the agent's
// block-data checksum.
uint16_t wordXor16(std::span<const uint8_t> bytes);

// seed XOR every little-endian 32-bit word of the buffer; a final partial
// word is taken with zero bytes in place of the missing ones. The
// bootloader image checksums.
uint32_t wordXor32(std::span<const uint8_t> bytes, uint32_t seed);

// "0x1A2B" style text of a number, for log lines.
std::string hex(uint32_t value, int digits = 2);

}  // namespace hxphone
