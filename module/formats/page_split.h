#pragma once
// One raw NAND block split into its page data and its spare bytes.
#include <cstdint>
#include <optional>
#include <span>

#include "formats/byte_buffer.h"
#include "formats/image_buffer.h"

namespace hx {

struct PageSplit {
  ByteBuffer data;   // pageSize bytes per page, pages in order (blockDataSize bytes)
  ByteBuffer spare;  // spareSize bytes per page, pages in order
};

// Splits the first pagesPerBlock raw pages of `rawBlock`; nothing when
// `rawBlock` is shorter than one raw block of `geometry`.
std::optional<PageSplit> splitRawBlock(std::span<const uint8_t> rawBlock, const NandGeometry& geometry);

}  // namespace hx
