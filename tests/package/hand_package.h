#pragma once
// Small packages written byte by byte for the reader's tests: 512-byte pages,
// 16 KiB blocks. Block 0 holds the header, the entry table and the bootloader
// area; block 1 the ext bootloader; block 2 the image table; then one run of
// blocks per further entry. Image bytes are (entry index * 31 + offset) & 0xFF
// so that any misplaced byte shows.
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/little_endian.h"
#include "formats/image_buffer.h"

namespace hx::test {

inline constexpr NandGeometry kSmallGeometry{512, 16, 16384, 16896};

struct HandEntry {
  uint8_t type = 4;
  uint32_t length = 1000;  // image bytes; the image table gets this unless tableLength is set
  uint32_t blocks = 1;
  int64_t tableLength = -1;
};

inline uint8_t patternByte(size_t entry, size_t offset) { return static_cast<uint8_t>(entry * 31 + offset); }

class HandPackage {
 public:
  uint32_t bootloaderLength = 3000;
  uint32_t extLength = 5000;
  std::vector<HandEntry> entries;
  std::vector<uint8_t> bytes;

  // Writes `n` page-data bytes at data offset `offset` of raw block `block`.
  void writeData(uint64_t block, uint64_t offset, const uint8_t* data, size_t n) {
    const auto& g = kSmallGeometry;
    for (size_t i = 0; i < n; ++i) {
      const uint64_t d = offset + i;
      const uint64_t raw = block * g.rawBlockSize + d / g.pageSize * (g.pageSize + g.spareSize) + d % g.pageSize;
      bytes.at(raw) = data[i];
    }
  }
  void writeDataLe32(uint64_t block, uint64_t offset, uint32_t v) {
    uint8_t b[4];
    storeLe32(b, v);
    writeData(block, offset, b, 4);
  }
  std::vector<uint8_t> pattern(size_t entry, size_t n) const {
    std::vector<uint8_t> v(n);
    for (size_t i = 0; i < n; ++i) v[i] = patternByte(entry, i);
    return v;
  }

  // Entry index -> first block.
  std::vector<uint32_t> firstBlocks;

  std::vector<uint8_t>& build() {
    const auto& g = kSmallGeometry;
    uint32_t blocks = 3;
    firstBlocks = {0, 1, 2};
    for (const auto& e : entries) firstBlocks.push_back(blocks), blocks += e.blocks;
    bytes.assign(uint64_t{blocks} * g.rawBlockSize, 0xFF);
    // Header: pageSize, blockKiB; the span word sits at header bytes 16..19.
    storeLe16(bytes.data(), 512);
    storeLe16(bytes.data() + 2, 16);
    const uint32_t span = bootloaderLength + 128;
    storeLe32(bytes.data() + 16, span);
    uint8_t* record = bytes.data() + 32;
    auto putEntry = [&](uint32_t first, uint32_t count, uint8_t type) {
      storeLe32(record, first);
      storeLe32(record + 4, count);
      std::memset(record + 8, 0, 3);
      record[11] = type;
      std::memset(record + 12, 0, 4);
      record += 16;
    };
    putEntry(0, 1, 0);
    putEntry(1, 1, 1);
    putEntry(2, 1, 2);
    for (size_t i = 0; i < entries.size(); ++i) putEntry(firstBlocks[i + 3], entries[i].blocks, entries[i].type);
    std::memset(record, 0xFF, 16);
    // Bootloader at data offset 512, trailer after it with the ext length at 20.
    writeData(0, 512, pattern(0, bootloaderLength).data(), bootloaderLength);
    writeDataLe32(0, 512 + bootloaderLength + 20, extLength);
    writeData(1, 0, pattern(1, extLength).data(), extLength);
    // Image table at data offset 1024 of block 2.
    uint32_t n = 1;
    for (size_t i = 0; i < entries.size(); ++i) {
      const auto& e = entries[i];
      const bool image = e.type == 4 || e.type == 5 || e.type == 8;
      if (image && n <= 19) {
        const uint32_t offset = n <= 9 ? 16 * n + 4 : 16 * n + 8;
        writeDataLe32(2, 1024 + offset, e.tableLength >= 0 ? static_cast<uint32_t>(e.tableLength) : e.length);
      }
      if (image) ++n;
      const uint32_t room = std::min<uint32_t>(e.length, e.blocks * g.blockDataSize);
      writeData(firstBlocks[i + 3], 0, pattern(i + 3, room).data(), room);
    }
    return bytes;
  }
};

}  // namespace hx::test
