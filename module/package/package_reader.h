#pragma once
// Lifting content out of the package's raw blocks: page data without spare
// bytes, raw bytes as they stand, and the marked page of a block. Every range
// is checked against the package before anything is read or allocated, and
// the images of one package never add up to more than twice its size.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "formats/fs_header.h"
#include "formats/image_buffer.h"
#include "package/package_layout.h"
#include "package/package_source.h"

namespace hx {

class PackageReader {
 public:
  PackageReader(PackageSource& source, const NandGeometry& geometry);

  const NandGeometry& geometry() const { return m_geometry; }
  uint64_t packageSize() const { return m_source.size(); }

  // Byte offset of raw block `block`.
  uint64_t blockOffset(uint64_t block) const { return block * m_geometry.rawBlockSize; }
  // The entry's blocks lie inside the package.
  bool entryInside(const PackageEntry& entry) const;

  // Page data starting `dataOffset` data bytes after the raw position
  // `rawStart` (the start of a page), walking consecutive raw pages and
  // leaving their spare bytes out.
  bool pageDataInside(uint64_t rawStart, uint64_t dataOffset, uint64_t n) const;
  bool readPageData(uint64_t rawStart, uint64_t dataOffset, uint64_t n, uint8_t* destination);
  bool readRaw(uint64_t offset, uint64_t n, uint8_t* destination) { return m_source.readAt(offset, destination, n); }

  // The 512 data bytes that end the last page of the raw block at `rawStart`
  // whose spare bytes 2 and 3 are 0x0F and 0x0D; nothing when no page is
  // marked or the block does not lie inside the package.
  std::optional<FsHeader> findMarkedPageTail(uint64_t rawStart);

  // Room for an image of `n` bytes, or nothing when the package's images
  // would exceed their budget or 4 GiB.
  std::unique_ptr<uint8_t[]> allocateImage(uint64_t n);

 private:
  uint64_t rawPage() const { return uint64_t{m_geometry.pageSize} + m_geometry.spareSize; }
  uint64_t rawPositionOfData(uint64_t rawStart, uint64_t dataOffset) const;

  PackageSource& m_source;
  NandGeometry m_geometry;
  uint64_t m_imageBudget;
};

}  // namespace hx
