#include "host/crc32.h"

#include <zlib.h>

#include <fstream>
#include <vector>

namespace hxflash {
namespace {

// zlib takes a length of `z_size_t`: a span of any size fits it whole.
static_assert(sizeof(z_size_t) >= sizeof(size_t));

// Carries a running CRC over `bytes`.
uint32_t carry(uint32_t crc, std::span<const uint8_t> bytes) {
  return static_cast<uint32_t>(::crc32_z(crc, bytes.data(), bytes.size()));
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes) { return carry(0, bytes); }

std::optional<FileCrc> fileCrc32(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> piece(1 << 20);
  FileCrc file;
  while (in) {
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<size_t>(in.gcount());
    file.crc32 = carry(file.crc32, std::span<const uint8_t>(piece.data(), got));
    file.size += got;
  }
  if (in.bad()) return std::nullopt;
  return file;
}

}  // namespace hxflash
