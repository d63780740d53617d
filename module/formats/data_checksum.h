#pragma once
// The checksum the write-block command carries for a block's page data.
#include <cstdint>
#include <span>

namespace hx {

// XOR of all little-endian 16-bit words, from 0; a trailing odd byte is ignored.
uint16_t dataChecksum(std::span<const uint8_t> bytes);

}  // namespace hx
