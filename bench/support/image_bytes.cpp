#include "image_bytes.h"

#include <algorithm>
#include <span>

namespace hxbench {
namespace {

constexpr size_t kFsImagesWritten = 4;   // only four FS images have NAND addresses
constexpr uint32_t kMostPagesSentAlone = 3;

// Pages of a raw block whose spare bytes are not all erased.
uint32_t programmedPages(std::span<const uint8_t> rawBlock, const pkgbuild::Geometry& g) {
  uint32_t count = 0;
  for (uint32_t p = 0; p < g.pagesPerBlock; ++p) {
    const auto spare = rawBlock.subspan(uint64_t{p} * g.rawPageSize() + g.pageSize, g.spareSize);
    if (std::any_of(spare.begin(), spare.end(), [](uint8_t b) { return b != 0xFF; })) ++count;
  }
  return count;
}

uint64_t dataBlockBytesSent(std::span<const uint8_t> rawBlock, const pkgbuild::Geometry& g) {
  const uint32_t pages = programmedPages(rawBlock, g);
  return pages > kMostPagesSentAlone ? g.rawBlockSize : uint64_t{pages} * g.rawPageSize();
}

}  // namespace

uint64_t imageBytesSent(const pkgbuild::BuiltPackage& package) {
  const pkgbuild::PackageLayout& layout = package.layout;
  uint64_t bytes = uint64_t{layout.bootloader.length} + layout.extBootloader.length + layout.primaryRom.length +
                   layout.secondaryRom.length;
  const size_t images = std::min(layout.fsImages.size(), kFsImagesWritten);
  for (size_t i = 0; i < images; ++i) {
    const pkgbuild::FsImageLayout& fs = layout.fsImages[i];
    if (!fs.written) continue;
    bytes += layout.geometry.rawBlockSize;  // the info block
    for (size_t d = 0; d < fs.dataBlockFileOffsets.size(); ++d)
      bytes += dataBlockBytesSent(package.fsDataBlock(i, d), layout.geometry);
  }
  return bytes;
}

}  // namespace hxbench
