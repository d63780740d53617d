#include "host/crc32.h"

#include <array>
#include <fstream>
#include <vector>

namespace hxflash {
namespace {

const std::array<uint32_t, 256>& crcTable() {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  return table;
}

// Carries a running CRC (before its final inversion) over `bytes`.
uint32_t carry(uint32_t crc, std::span<const uint8_t> bytes) {
  const auto& table = crcTable();
  for (uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc;
}

}  // namespace

uint32_t crc32(std::span<const uint8_t> bytes) { return carry(0xFFFFFFFFu, bytes) ^ 0xFFFFFFFFu; }

std::optional<FileCrc> fileCrc32(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  std::vector<uint8_t> piece(1 << 20);
  FileCrc file;
  uint32_t crc = 0xFFFFFFFFu;
  while (in) {
    in.read(reinterpret_cast<char*>(piece.data()), static_cast<std::streamsize>(piece.size()));
    const auto got = static_cast<size_t>(in.gcount());
    crc = carry(crc, std::span<const uint8_t>(piece.data(), got));
    file.size += got;
  }
  if (in.bad()) return std::nullopt;
  file.crc32 = crc ^ 0xFFFFFFFFu;
  return file;
}

}  // namespace hxflash
