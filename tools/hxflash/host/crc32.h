#pragma once
// CRC-32 (IEEE 802.3), computed by zlib: the one place hxflash computes it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace hxflash {

uint32_t crc32(std::span<const uint8_t> bytes);

// The CRC-32 and size of the file `path`, read in pieces; nothing when it cannot be read.
struct FileCrc {
  uint64_t size = 0;
  uint32_t crc32 = 0;
};
std::optional<FileCrc> fileCrc32(const std::string& path);

}  // namespace hxflash
