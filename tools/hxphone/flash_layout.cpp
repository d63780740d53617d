#include "hxphone/flash_layout.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

namespace hxphone {

namespace {

uint32_t nextGoodBlock(const NandModel& nand, uint32_t block) {
  while (block < nand.geometry().blockCount && nand.isBad(block)) ++block;
  if (block >= nand.geometry().blockCount) throw std::out_of_range("the image does not fit into the NAND");
  return block;
}

// Programs one block's share of the image; false when the block failed.
bool programBlock(NandModel& nand, uint32_t block, std::span<const uint8_t> part) {
  const NandGeometry& g = nand.geometry();
  nand.eraseBlock(block);
  std::vector<uint8_t> page(g.pageSize);
  for (uint32_t p = 0; size_t{p} * g.pageSize < part.size(); ++p) {
    size_t offset = size_t{p} * g.pageSize;
    size_t n = std::min<size_t>(g.pageSize, part.size() - offset);
    std::fill(page.begin(), page.end(), 0xFF);
    std::memcpy(page.data(), part.data() + offset, n);
    if (!nand.programPage(block, p, page.data(), nullptr)) return false;
  }
  return true;
}

}  // namespace

BlockExtent storePageData(NandModel& nand, uint32_t firstBlock, std::span<const uint8_t> bytes) {
  const size_t blockData = nand.geometry().blockDataSize();
  BlockExtent extent{firstBlock, firstBlock};
  uint32_t block = firstBlock;
  for (size_t offset = 0; offset < bytes.size();) {
    block = nextGoodBlock(nand, block);
    auto part = bytes.subspan(offset, std::min(blockData, bytes.size() - offset));
    if (programBlock(nand, block, part)) offset += part.size();
    ++block;
  }
  extent.end = block;
  return extent;
}

std::vector<uint8_t> romArea(std::span<const uint8_t> primary, std::span<const uint8_t> secondary) {
  std::vector<uint8_t> area(size_t{romSecondaryOffset(static_cast<uint32_t>(primary.size()))} + secondary.size(), 0xFF);
  std::copy(primary.begin(), primary.end(), area.begin());
  std::copy(secondary.begin(), secondary.end(), area.begin() + static_cast<std::ptrdiff_t>(area.size() - secondary.size()));
  return area;
}

std::vector<uint8_t> loadPageData(const NandModel& nand, uint32_t firstBlock, size_t length, BlockExtent* extent) {
  const NandGeometry& g = nand.geometry();
  std::vector<uint8_t> out;
  out.reserve(length);
  std::vector<uint8_t> page(g.pageSize);
  uint32_t block = firstBlock;
  while (out.size() < length) {
    block = nextGoodBlock(nand, block);
    for (uint32_t p = 0; p < g.pagesPerBlock && out.size() < length; ++p) {
      nand.readPage(block, p, page.data(), nullptr);
      size_t n = std::min<size_t>(g.pageSize, length - out.size());
      out.insert(out.end(), page.begin(), page.begin() + static_cast<std::ptrdiff_t>(n));
    }
    ++block;
  }
  if (extent) *extent = {firstBlock, block};
  return out;
}

}  // namespace hxphone
