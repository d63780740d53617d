#include "formats/page_split.h"

#include <cstring>

namespace hx {

std::optional<PageSplit> splitRawBlock(std::span<const uint8_t> rawBlock, const NandGeometry& geometry) {
  const uint64_t pages = geometry.pagesPerBlock();
  const uint64_t rawPage = uint64_t{geometry.pageSize} + geometry.spareSize;
  if (geometry.pageSize == 0 || pages * rawPage > rawBlock.size()) return std::nullopt;
  PageSplit split{makeByteBuffer(pages * geometry.pageSize), makeByteBuffer(pages * geometry.spareSize)};
  const uint8_t* source = rawBlock.data();
  uint8_t* data = split.data->data();
  uint8_t* spare = split.spare->data();
  for (uint64_t p = 0; p < pages; ++p) {
    std::memcpy(data, source, geometry.pageSize);
    std::memcpy(spare, source + geometry.pageSize, geometry.spareSize);
    source += rawPage;
    data += geometry.pageSize;
    spare += geometry.spareSize;
  }
  return split;
}

}  // namespace hx
