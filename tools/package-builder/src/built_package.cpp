// BuiltPackage: the layout's positions turned into bytes.
#include <algorithm>
#include <stdexcept>

#include "le_bytes.h"
#include "page_writer.h"
#include "pkgbuild/package_builder.h"

namespace pkgbuild {

std::vector<uint8_t> BuiltPackage::pageData(const PageDataRef& ref) const {
  const Geometry& g = layout.geometry;
  const uint64_t inPage = ref.fileOffset % g.rawPageSize();
  const uint64_t base = ref.fileOffset - inPage;
  std::vector<uint8_t> out;
  out.reserve(ref.length);
  uint64_t done = 0;
  while (done < ref.length) {
    const uint64_t at = detail::pageDataFileOffset(g, base, inPage + done);
    if (at >= bytes.size()) break;
    const uint64_t n = std::min<uint64_t>(
        {g.pageSize - (inPage + done) % g.pageSize, ref.length - done, bytes.size() - at});
    out.insert(out.end(), bytes.begin() + static_cast<std::ptrdiff_t>(at),
               bytes.begin() + static_cast<std::ptrdiff_t>(at + n));
    done += n;
  }
  return out;
}

std::span<const uint8_t> BuiltPackage::rawBlockAt(uint64_t fileOffset) const {
  const uint64_t raw = layout.geometry.rawBlockSize;
  if (fileOffset > bytes.size() || raw > bytes.size() - fileOffset)
    throw std::out_of_range("raw block beyond the package");
  return {bytes.data() + fileOffset, static_cast<size_t>(raw)};
}

std::span<const uint8_t> BuiltPackage::fsInfoBlock(size_t image) const {
  return rawBlockAt(layout.fsImages.at(image).infoBlockFileOffset);
}

std::span<const uint8_t> BuiltPackage::fsDataBlock(size_t image, size_t d) const {
  return rawBlockAt(layout.fsImages.at(image).dataBlockFileOffsets.at(d));
}

std::vector<uint8_t> BuiltPackage::fsImage(size_t index) const {
  const FsImageLayout& img = layout.fsImages.at(index);
  if (img.volume < 0) {
    const uint64_t begin = std::min<uint64_t>(img.rawFileOffset, bytes.size());
    const uint64_t end = std::min<uint64_t>(begin + img.imageLength, bytes.size());
    return {bytes.begin() + static_cast<std::ptrdiff_t>(begin), bytes.begin() + static_cast<std::ptrdiff_t>(end)};
  }
  const uint64_t raw = layout.geometry.rawBlockSize;
  std::vector<uint8_t> out(img.imageLength, 0xFF);
  const auto head = encodeFsImageHeader(img.header);
  std::copy(head.begin(), head.end(), out.begin());
  size_t at = kFsImageHeaderSize;
  for (const auto* list : {&img.mappedBlocks, &img.reservedBlocks})
    for (const BlockRef& r : *list) {
      detail::putLe32(&out[at], packMapWord(r));
      at += 4;
    }
  uint64_t block = img.header.infoBlocksBefore;
  for (uint64_t off : img.infoAreaFileOffsets) {
    const auto src = rawBlockAt(off);
    std::copy(src.begin(), src.end(), out.begin() + static_cast<std::ptrdiff_t>(block++ * raw));
  }
  for (uint64_t off : img.dataBlockFileOffsets) {
    const auto src = rawBlockAt(off);
    std::copy(src.begin(), src.end(), out.begin() + static_cast<std::ptrdiff_t>(block++ * raw));
  }
  return out;
}

}  // namespace pkgbuild
