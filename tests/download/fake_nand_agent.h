#pragma once
// A download agent's NAND as the writers see it: raw blocks (page data and
// spare bytes), factory-bad blocks that refuse writes, blocks that fail while
// programmed, and a log of every command in order.
#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "formats/data_checksum.h"
#include "formats/image_buffer.h"
#include "protocol/nand_agent.h"

namespace hx::test {

class FakeNandAgent : public NandAgent {
 public:
  FakeNandAgent(uint32_t pageBytes, uint32_t pages, uint32_t blocks_)
      : pageSize(pageBytes), spareSize(pageBytes == 512 ? 16 : 64), pagesPerBlock(pages),
        blockCount(blocks_) {}

  uint32_t rawPageSize() const { return pageSize + spareSize; }
  uint32_t rawBlockSize() const { return rawPageSize() * pagesPerBlock; }
  uint32_t blockDataSize() const { return pageSize * pagesPerBlock; }

  // The raw bytes of `block`; an untouched block reads erased.
  std::vector<uint8_t>& raw(uint32_t block) {
    auto it = blocks.find(block);
    if (it == blocks.end()) it = blocks.emplace(block, std::vector<uint8_t>(rawBlockSize(), 0xFF)).first;
    return it->second;
  }
  std::vector<uint8_t> rawOf(uint32_t block) const {
    auto it = blocks.find(block);
    return it == blocks.end() ? std::vector<uint8_t>(rawBlockSize(), 0xFF) : it->second;
  }

  std::vector<uint8_t> dataOf(uint32_t block) const {
    std::vector<uint8_t> out;
    for (uint32_t p = 0; p < pagesPerBlock; ++p) {
      const auto bytes = rawOf(block);
      const auto* page = bytes.data() + p * rawPageSize();
      out.insert(out.end(), page, page + pageSize);
    }
    return out;
  }
  std::vector<uint8_t> spareOf(uint32_t block) const {
    std::vector<uint8_t> out;
    for (uint32_t p = 0; p < pagesPerBlock; ++p) {
      const auto bytes = rawOf(block);
      const auto* page = bytes.data() + p * rawPageSize() + pageSize;
      out.insert(out.end(), page, page + spareSize);
    }
    return out;
  }
  void markFactoryBad(uint32_t block) {
    factoryBad.insert(block);
    raw(block)[pageSize + (pageSize == 512 ? 5 : 0)] = 0x00;
  }

  int readBack(uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity) override {
    const uint32_t block = address / blockDataSize();
    log.push_back("read" + std::to_string(mode) + " " + std::to_string(block));
    if (readFailures > 0 && --readFailures == 0) return kReadBackFailed;
    if (address % blockDataSize() != 0 || length != blockDataSize() || block >= blockCount) return kReadBackFailed;
    const std::vector<uint8_t> bytes = mode == kReadBackDataOnly ? dataOf(block) : rawOf(block);
    if (bytes.size() > capacity) return kReadBackFailed;
    std::copy(bytes.begin(), bytes.end(), dest);
    return 0;
  }

  int formatRange(FormatFlags flags, uint32_t start, uint32_t length) override {
    const uint32_t first = start / blockDataSize(), count = length / blockDataSize();
    log.push_back("format " + std::to_string(flags.first) + std::to_string(flags.second) + std::to_string(flags.third) + " " +
                  std::to_string(first) + "+" + std::to_string(count));
    if (formatFails) return kFormatFailed;
    for (auto& [b, bytes] : blocks)
      if (b >= first && b < first + count && !factoryBad.count(b)) bytes.assign(rawBlockSize(), 0xFF);
    return 0;
  }

  int writeBlock(uint32_t block, const BlockPages& pages, uint16_t checksum) override {
    log.push_back("block " + std::to_string(block));
    std::vector<uint32_t> all(pagesPerBlock);
    for (uint32_t p = 0; p < pagesPerBlock; ++p) all[p] = p;
    if (checksum != dataChecksum(std::span<const uint8_t>(pages.pageData, blockDataSize()))) return kBlockChecksumDiffers;
    return program(block, all, pages);
  }

  int writePages(uint32_t block, const uint32_t* indexes, uint32_t count, const BlockPages& pages) override {
    std::string entry = "pages " + std::to_string(block) + " [";
    for (uint32_t i = 0; i < count; ++i) entry += (i ? "," : "") + std::to_string(indexes[i]);
    log.push_back(entry + "]");
    return program(block, std::vector<uint32_t>(indexes, indexes + count), pages);
  }

  // Commands of the log that start with `prefix`.
  std::vector<std::string> logOf(const std::string& prefix) const {
    std::vector<std::string> out;
    for (const auto& l : log)
      if (l.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }
  size_t indexOf(const std::string& entry) const {
    for (size_t i = 0; i < log.size(); ++i)
      if (log[i] == entry) return i;
    return SIZE_MAX;
  }

  uint32_t pageSize, spareSize, pagesPerBlock;
  uint32_t blockCount;
  std::map<uint32_t, std::vector<uint8_t>> blocks;
  std::set<uint32_t> factoryBad;      // refused at the command header
  std::set<uint32_t> failOnProgram;   // fail once while programmed, then are bad
  std::set<uint32_t> alwaysFail;      // fail every time while programmed
  std::vector<std::string> log;
  int readFailures = 0;               // the n-th read-back fails
  bool formatFails = false;

 private:
  int program(uint32_t block, const std::vector<uint32_t>& pageIndexes, const BlockPages& pages) {
    if (block >= blockCount || factoryBad.count(block)) return kBlockBad;
    if (failOnProgram.erase(block) || alwaysFail.count(block)) {
      markFactoryBad(block);
      return kBlockBad;
    }
    std::vector<uint8_t>& bytes = raw(block);
    bytes.assign(rawBlockSize(), 0xFF);  // a write erases its target block first
    for (uint32_t p : pageIndexes) {
      uint8_t* page = bytes.data() + p * rawPageSize();
      std::copy(pages.pageData + p * pageSize, pages.pageData + (p + 1) * pageSize, page);
      std::copy(pages.spareData + p * spareSize, pages.spareData + (p + 1) * spareSize, page + pageSize);
    }
    return 0;
  }
};

}  // namespace hx::test
