#pragma once
// The phone's NAND flash: blocks of pages, each page its data bytes followed
// by its spare bytes. Erased bytes are 0xFF and programming can only clear
// bits (new = old AND written). Blocks are stored only once written, so a
// large device costs memory only for what it holds.
//
// Bad blocks: a factory-bad block carries the bad-block markers (spare byte
// 5 of pages 0 and 1 for 512-byte pages, spare bytes 0 and 1 of pages 0 and 1
// for 2048-byte pages); a "failing" block is good until it is programmed, then
// fails and is marked bad the same way. Erasing never touches a bad block.
#include <cstdint>
#include <memory>
#include <set>
#include <span>
#include <string>
#include <vector>

namespace hxphone {

struct NandGeometry {
  uint32_t pageSize = 2048;
  uint32_t spareSize = 64;
  uint32_t pagesPerBlock = 64;
  uint32_t blockCount = 1024;

  uint32_t rawPageSize() const { return pageSize + spareSize; }
  uint32_t rawBlockSize() const { return rawPageSize() * pagesPerBlock; }
  uint32_t blockDataSize() const { return pageSize * pagesPerBlock; }
  uint64_t rawSize() const { return uint64_t{rawBlockSize()} * blockCount; }

  // 512-byte pages with 16 KiB blocks, or 2048-byte pages with 128 KiB blocks.
  static NandGeometry smallPage(uint32_t blocks);
  static NandGeometry largePage(uint32_t blocks);
  bool valid() const;
};

class NandModel {
 public:
  explicit NandModel(NandGeometry geometry);

  const NandGeometry& geometry() const { return m_geometry; }

  void readPage(uint32_t block, uint32_t page, uint8_t* data, uint8_t* spare) const;
  // Programs one page; returns false (and marks the block bad) when the block
  // is one that fails when programmed.
  bool programPage(uint32_t block, uint32_t page, const uint8_t* data, const uint8_t* spare);
  // Erases a good block; a bad block keeps its contents and markers.
  void eraseBlock(uint32_t block);

  void markFactoryBad(uint32_t block);
  void setFailsWhenProgrammed(uint32_t block);
  bool isBad(uint32_t block) const { return m_bad.count(block) != 0; }
  bool failsWhenProgrammed(uint32_t block) const { return m_failing.count(block) != 0; }
  const std::set<uint32_t>& badBlocks() const { return m_bad; }

  // The block's bytes as stored: pages one after another, data then spare.
  std::vector<uint8_t> rawBlock(uint32_t block) const;
  // Writes a whole raw block (used to preload a state); no AND rule.
  void storeRawBlock(uint32_t block, std::span<const uint8_t> raw);

  // The dump file is the whole device as raw blocks, block 0 first.
  void writeDump(const std::string& path) const;
  static NandModel readDump(const std::string& path, NandGeometry geometry);

  // True when the raw block carries a bad-block marker (a marker byte with
  // fewer than 7 of its 8 bits set).
  static bool rawBlockMarkedBad(std::span<const uint8_t> raw, const NandGeometry& geometry);

 private:
  uint8_t* writableBlock(uint32_t block);
  void writeMarkers(uint32_t block);
  void checkBlock(uint32_t block) const;

  NandGeometry m_geometry;
  std::vector<std::unique_ptr<uint8_t[]>> m_blocks;  // null = erased
  std::set<uint32_t> m_bad;
  std::set<uint32_t> m_failing;
};

}  // namespace hxphone
