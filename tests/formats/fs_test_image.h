#pragma once
// Hand-made FS images for the NAND structure tests.
#include <cstdint>
#include <cstring>
#include <vector>

#include "formats/fs_image_header.h"
#include "formats/little_endian.h"

namespace hx::test {

struct FsImageRecipe {
  uint16_t pageSize = 2048;
  uint16_t blockKiB = 128;
  uint32_t infoBlocksBefore = 1;
  std::vector<uint32_t> mappedWords;
  std::vector<uint32_t> reservedWords;
  uint32_t countersEnd = 2048;
};

inline uint32_t mappingWord(uint32_t region, uint32_t block) { return (block << 8) | region; }

// Header, words, an all-0xFF info block and data blocks.
inline std::vector<uint8_t> makeFsImage(const FsImageRecipe& recipe) {
  const NandGeometry g = fsImageGeometry(recipe.pageSize, recipe.blockKiB);
  const size_t blocks = recipe.infoBlocksBefore + 1 + recipe.mappedWords.size();
  std::vector<uint8_t> image(blocks * g.rawBlockSize, 0xFF);
  uint8_t* h = image.data();
  storeLe32(h + kFsInfoBlocksBeforeOffset, recipe.infoBlocksBefore);
  storeLe32(h + kFsRegionCountOffset, 4);
  storeLe32(h + kFsTotalBlocksOffset, static_cast<uint32_t>(recipe.mappedWords.size() + recipe.reservedWords.size()));
  storeLe32(h + kFsMappedCountOffset, static_cast<uint32_t>(recipe.mappedWords.size()));
  storeLe32(h + kFsReservedCountOffset, static_cast<uint32_t>(recipe.reservedWords.size()));
  storeLe32(h + kFsEraseStartIndexOffset, static_cast<uint32_t>(recipe.mappedWords.size()));
  storeLe32(h + kFsBlocksPerRegionOffset, 1);
  storeLe32(h + kFsCountersEndOffset, recipe.countersEnd);
  storeLe16(h + kFsPageSizeOffset, recipe.pageSize);
  storeLe16(h + kFsBlockKiBOffset, recipe.blockKiB);
  uint8_t* w = h + kFsImageHeaderSize;
  for (uint32_t word : recipe.mappedWords) storeLe32(w, word), w += 4;
  for (uint32_t word : recipe.reservedWords) storeLe32(w, word), w += 4;
  return image;
}

// Marks raw page `page` of the raw block at `block` as an info page.
inline void markInfoPage(uint8_t* block, const NandGeometry& g, uint32_t page) {
  uint8_t* spare = block + page * (g.pageSize + g.spareSize) + g.pageSize;
  spare[2] = 0x0F;
  spare[3] = 0x0D;
}

}  // namespace hx::test
