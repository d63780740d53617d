#include "formats/block_marks.h"

#include <algorithm>
#include <array>
#include <bit>

namespace hx {

namespace {

bool markerByteIsBad(uint8_t byte) { return std::popcount(byte) < 7; }

}  // namespace

bool isBadBlockMarked(std::span<const uint8_t> rawBlock, uint32_t pageSize, uint32_t spareSize) {
  const uint64_t page1 = uint64_t{pageSize} + spareSize;  // raw offset of page 1
  std::array<uint64_t, 4> offsets{};
  size_t count = 0;
  if (pageSize == 512) {
    offsets = {pageSize + 5ull, page1 + pageSize + 5};
    count = 2;
  } else if (pageSize == 2048) {
    offsets = {pageSize + 0ull, pageSize + 1ull, page1 + pageSize, page1 + pageSize + 1};
    count = 4;
  }
  return std::any_of(offsets.begin(), offsets.begin() + static_cast<std::ptrdiff_t>(count), [&](uint64_t offset) {
    return offset < rawBlock.size() && markerByteIsBad(rawBlock[offset]);
  });
}

bool isInfoBlockMarked(std::span<const uint8_t> rawBlock, uint32_t pageSize) {
  const uint64_t mark = uint64_t{pageSize} + 2;
  return mark + 1 < rawBlock.size() && rawBlock[mark] == kInfoMarkByte2 && rawBlock[mark + 1] == kInfoMarkByte3;
}

std::vector<uint32_t> programmedPages(std::span<const uint8_t> spare, uint32_t spareSize, uint32_t pagesPerBlock) {
  std::vector<uint32_t> pages;
  if (spareSize == 0) return pages;
  const uint64_t wholePages = std::min<uint64_t>(pagesPerBlock, spare.size() / spareSize);
  for (uint32_t p = 0; p < wholePages; ++p) {
    const auto pageSpare = spare.subspan(uint64_t{p} * spareSize, spareSize);
    if (std::any_of(pageSpare.begin(), pageSpare.end(), [](uint8_t b) { return b != 0xFF; })) pages.push_back(p);
  }
  return pages;
}

}  // namespace hx
