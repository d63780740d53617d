#pragma once
// A reader of the package format written for these tests from the format's
// rules alone (header, entry table, page data, bootloader cut, image table,
// FS split), so the builder's layout is checked against the bytes, not
// against itself.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

namespace formatreader {

inline uint32_t le32(const uint8_t* p) { return p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t{p[3]} << 24); }
inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

struct Entry {
  uint32_t firstBlock, blockCount, type;
};

struct Package {
  const std::vector<uint8_t>& bytes;
  uint32_t pageSize = 0, spareSize = 0, blockDataSize = 0, rawBlockSize = 0, pagesPerBlock = 0;
  std::vector<Entry> entries;

  explicit Package(const std::vector<uint8_t>& b) : bytes(b) {
    pageSize = le16(&b[0]);
    spareSize = pageSize == 512 ? 16 : 64;
    blockDataSize = le16(&b[2]) * 1024u;
    pagesPerBlock = blockDataSize / pageSize;
    rawBlockSize = pagesPerBlock * (pageSize + spareSize);
    for (size_t at = 32; at + 16 <= b.size(); at += 16) {
      if (std::all_of(&b[at], &b[at + 16], [](uint8_t x) { return x == 0xFF; })) break;
      entries.push_back({le32(&b[at]), le32(&b[at + 4]), b[at + 11]});
    }
  }

  size_t blockOffset(uint32_t block) const { return size_t{block} * rawBlockSize; }

  std::vector<uint8_t> copyPageData(size_t src, size_t n) const {
    std::vector<uint8_t> out;
    while (out.size() < n) {
      const size_t take = std::min<size_t>(pageSize, n - out.size());
      if (src + take > bytes.size()) throw std::out_of_range("page data past the end");
      out.insert(out.end(), bytes.begin() + src, bytes.begin() + src + take);
      src += pageSize + spareSize;
    }
    return out;
  }

  bool findMarkedPageTail(size_t block, std::array<uint8_t, 512>& tail) const {
    for (uint32_t j = pagesPerBlock; j-- > 0;) {
      const size_t page = block + size_t{j} * (pageSize + spareSize);
      if (bytes[page + pageSize + 2] == 0x0F && bytes[page + pageSize + 3] == 0x0D) {
        std::copy_n(&bytes[page + pageSize - 512], 512, tail.begin());
        return true;
      }
    }
    return false;
  }

  std::vector<uint8_t> bootloader() const {
    const auto area = copyPageData(blockOffset(entries[0].firstBlock), size_t{blockDataSize} * entries[0].blockCount);
    const uint32_t span = le32(&area[16]);
    return {area.begin() + 512, area.begin() + 512 + span - 128};
  }

  uint32_t extLength() const {
    const auto area = copyPageData(blockOffset(entries[0].firstBlock), size_t{blockDataSize} * entries[0].blockCount);
    const uint32_t span = le32(&area[16]);
    return le32(&area[512 + span - 128 + 20]);
  }

  std::vector<uint8_t> extBootloader() const { return copyPageData(blockOffset(entries[1].firstBlock), extLength()); }

  std::vector<uint8_t> imageTable() const {
    const auto block = copyPageData(blockOffset(entries[2].firstBlock), blockDataSize);
    return {block.begin() + 2 * pageSize, block.begin() + 2 * pageSize + 324};
  }

  static uint32_t tableOffset(uint32_t n) { return n <= 9 ? 16 * n + 4 : 16 * n + 8; }

  // Images of types 4, 5, 8 in entry order: {type, bytes}.
  std::vector<std::pair<uint32_t, std::vector<uint8_t>>> images() const {
    const auto table = imageTable();
    std::vector<std::pair<uint32_t, std::vector<uint8_t>>> out;
    uint32_t n = 1;
    for (size_t i = 3; i < entries.size(); ++i) {
      const Entry& e = entries[i];
      if (e.type != 4 && e.type != 5 && e.type != 8) continue;
      out.push_back({e.type, copyPageData(blockOffset(e.firstBlock), le32(&table[tableOffset(n)]))});
      ++n;
    }
    return out;
  }

  // FS images in the module's order: split per volume for 5.2.0, else raw.
  std::vector<std::vector<uint8_t>> fsImages() const {
    std::vector<std::vector<uint8_t>> out;
    for (size_t i = 3; i < entries.size(); ++i)
      if (entries[i].type == 10) appendFsImages(entries[i], out);
    return out;
  }

  void appendFsImages(const Entry& e, std::vector<std::vector<uint8_t>>& out) const {
    const size_t B = blockOffset(e.firstBlock);
    const size_t info = B + size_t{le32(&bytes[B])} * rawBlockSize;
    std::array<uint8_t, 512> h{};
    if (!findMarkedPageTail(info, h) || h[460] != 5 || h[461] != 2 || h[462] != 0) {
      out.emplace_back(bytes.begin() + B, bytes.begin() + B + size_t{e.blockCount} * rawBlockSize);
      return;
    }
    const uint32_t regionCount = le32(&bytes[B + 4]);
    const uint32_t reserved = le32(&bytes[B + 16]);
    const uint32_t countersEnd = le32(&bytes[B + 28]);
    const uint32_t infoAreaStart = le32(&h[388]);
    const uint32_t k = (countersEnd + blockDataSize - 1) / blockDataSize;
    const uint32_t start0 = le32(&h[396]);
    for (uint32_t v = 0; v < 8 && le32(&h[400 + 8 * v]) != 0; ++v) {
      const uint32_t start = le32(&h[396 + 8 * v]);
      const uint32_t m = le32(&h[400 + 8 * v]) / blockDataSize;
      std::vector<uint8_t> hdr(&bytes[B], &bytes[B + 48]);
      const uint32_t before = (blockDataSize + 4 * (m + reserved) + 47) / blockDataSize;
      auto put = [&](size_t at, uint32_t val) { for (int s = 0; s < 4; ++s) hdr[at + s] = static_cast<uint8_t>(val >> (8 * s)); };
      put(0, before);
      put(8, m + reserved);
      put(12, m);
      put(20, m);
      put(24, m / regionCount);
      std::vector<uint8_t> img(size_t{before + k + m} * rawBlockSize, 0xFF);
      std::copy(hdr.begin(), hdr.end(), img.begin());
      size_t at = 48;
      auto word = [&](uint32_t val) { for (int s = 0; s < 4; ++s) img[at++] = static_cast<uint8_t>(val >> (8 * s)); };
      for (uint32_t j = 0; j < m; ++j) word((j % regionCount) | ((start / blockDataSize + j) << 8));
      for (uint32_t j = 0; j < reserved; ++j) word((j % regionCount) | ((infoAreaStart / blockDataSize + j) << 8));
      std::copy_n(&bytes[info], size_t{k} * rawBlockSize, img.begin() + size_t{before} * rawBlockSize);
      const size_t data = info + size_t{k} * rawBlockSize + size_t{(start - start0) / blockDataSize} * rawBlockSize;
      std::copy_n(&bytes[data], size_t{m} * rawBlockSize, img.begin() + size_t{before + k} * rawBlockSize);
      out.push_back(std::move(img));
    }
  }
};

}  // namespace formatreader
