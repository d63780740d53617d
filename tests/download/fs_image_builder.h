#pragma once
// Builds FS images and phone-side records for the writer tests.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace hx::test {

inline void le16(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
inline void le32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
inline uint16_t getLe16(const std::vector<uint8_t>& b, size_t at) { return static_cast<uint16_t>(b[at] | b[at + 1] << 8); }

struct MapWord {
  uint8_t region;
  uint32_t block;
};

struct FsLayout {
  uint32_t infoAreaStart = 0;
  uint32_t infoAreaLength = 0;
  uint32_t volumeStart = 0;
  uint32_t volumeLength = 0;
  uint8_t version[3] = {5, 2, 0};
};

struct FsImagePlan {
  uint32_t pageSize = 512;
  uint32_t pagesPerBlock = 32;
  std::vector<MapWord> mapped;
  std::vector<MapWord> reserved;
  uint32_t eraseStartIndex = 0;  // logical index of the first erased block
  uint32_t countersEnd = 512;
  FsLayout layout;
  std::vector<int> programmedPages;  // per data block; default: all pages
  std::vector<uint16_t> counters = std::vector<uint16_t>(8, 0);
  std::vector<std::pair<uint32_t, uint16_t>> remaps;  // (remap index, value) in the info block
};

inline uint32_t spareOf(uint32_t pageSize) { return pageSize == 512 ? 16 : 64; }

// One info block's page data and spare bytes: remaps from byte 0, counters
// just before countersEnd, the FsHeader at the end of the last page, pages 0
// and last marked 0x0F 0x0D.
inline std::vector<uint8_t> infoBlockRaw(const FsImagePlan& s) {
  const uint32_t spare = spareOf(s.pageSize), rawPage = s.pageSize + spare;
  std::vector<uint8_t> data(s.pageSize * s.pagesPerBlock, 0);
  for (auto [index, value] : s.remaps) le16(data, 2 * index, value);
  if (s.countersEnd <= data.size())
    for (uint32_t r = 0; r < 8; ++r) le16(data, s.countersEnd - 16 + 2 * r, s.counters[r]);
  const size_t header = data.size() - 512;
  le32(data, header + 388, s.layout.infoAreaStart);
  le32(data, header + 392, s.layout.infoAreaLength);
  le32(data, header + 396, s.layout.volumeStart);
  le32(data, header + 400, s.layout.volumeLength);
  std::memcpy(data.data() + header + 460, s.layout.version, 3);
  std::vector<uint8_t> raw(static_cast<size_t>(rawPage) * s.pagesPerBlock, 0xFF);
  for (uint32_t p = 0; p < s.pagesPerBlock; ++p) std::memcpy(raw.data() + p * rawPage, data.data() + p * s.pageSize, s.pageSize);
  for (uint32_t p : {0u, s.pagesPerBlock - 1}) {
    raw[p * rawPage + s.pageSize + 2] = 0x0F;
    raw[p * rawPage + s.pageSize + 3] = 0x0D;
  }
  return raw;
}

// Data block d: page bytes that say which block and page they are; the first
// `programmed` pages carry non-0xFF spare bytes.
inline std::vector<uint8_t> dataBlockRaw(const FsImagePlan& s, uint32_t d, int programmed) {
  const uint32_t spare = spareOf(s.pageSize), rawPage = s.pageSize + spare;
  std::vector<uint8_t> raw(static_cast<size_t>(rawPage) * s.pagesPerBlock, 0xFF);
  for (uint32_t p = 0; p < s.pagesPerBlock; ++p) {
    for (uint32_t i = 0; i < s.pageSize; ++i) raw[p * rawPage + i] = static_cast<uint8_t>(d * 31 + p * 7 + i);
    if (static_cast<int>(p) < programmed) raw[p * rawPage + s.pageSize + 1] = static_cast<uint8_t>(0x10 + d);
  }
  return raw;
}

inline std::vector<uint8_t> buildFsImage(const FsImagePlan& s) {
  const uint32_t rawBlock = (s.pageSize + spareOf(s.pageSize)) * s.pagesPerBlock;
  std::vector<uint8_t> image(rawBlock, 0);  // raw block 0: the header
  le32(image, 0, 1);
  le32(image, 4, 2);
  le32(image, 8, static_cast<uint32_t>(s.mapped.size() + s.reserved.size()));
  le32(image, 12, static_cast<uint32_t>(s.mapped.size()));
  le32(image, 16, static_cast<uint32_t>(s.reserved.size()));
  le32(image, 20, s.eraseStartIndex);
  le32(image, 28, s.countersEnd);
  le16(image, 32, s.pageSize);
  le16(image, 34, s.pageSize * s.pagesPerBlock / 1024);
  size_t at = 48;
  for (const auto* list : {&s.mapped, &s.reserved})
    for (const MapWord& w : *list) {
      le32(image, at, w.region | w.block << 8);
      at += 4;
    }
  const auto info = infoBlockRaw(s);
  image.insert(image.end(), info.begin(), info.end());
  for (uint32_t d = 0; d < s.mapped.size(); ++d) {
    const int programmed = d < s.programmedPages.size() ? s.programmedPages[d] : static_cast<int>(s.pagesPerBlock);
    const auto block = dataBlockRaw(s, d, programmed);
    image.insert(image.end(), block.begin(), block.end());
  }
  return image;
}

// A ROM information record of version 5 with an FS area and the format tag.
inline std::vector<uint8_t> romInfoRecord(uint32_t fsStart, uint32_t fsLength, uint16_t areas = 2,
                                          const char* tag = "05200001") {
  std::vector<uint8_t> r(352, 0);
  std::memcpy(r.data(), "MTK_ROMINFO_v05", 15);
  le16(r, 210, areas);
  le32(r, 236, fsStart);
  le32(r, 240, fsLength);
  std::memcpy(r.data() + 332, tag, 8);
  return r;
}

}  // namespace hx::test
