#include "package/package_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace hx {

namespace {

constexpr uint64_t kCopyChunk = 1 << 20;  // raw bytes read at a time for page-data copies

}  // namespace

PackageReader::PackageReader(PackageSource& source, const NandGeometry& geometry)
    : m_source(source), m_geometry(geometry), m_imageBudget(2 * source.size()) {}

bool PackageReader::entryInside(const PackageEntry& entry) const {
  const uint64_t start = blockOffset(entry.firstBlock);
  return m_source.contains(start, uint64_t{entry.blockCount} * m_geometry.rawBlockSize);
}

uint64_t PackageReader::rawPositionOfData(uint64_t rawStart, uint64_t dataOffset) const {
  return rawStart + dataOffset / m_geometry.pageSize * rawPage() + dataOffset % m_geometry.pageSize;
}

bool PackageReader::pageDataInside(uint64_t rawStart, uint64_t dataOffset, uint64_t n) const {
  if (n == 0) return rawStart <= m_source.size();
  const uint64_t first = rawPositionOfData(rawStart, dataOffset);
  const uint64_t last = rawPositionOfData(rawStart, dataOffset + n - 1);
  return first < m_source.size() && last < m_source.size();
}

bool PackageReader::readPageData(uint64_t rawStart, uint64_t dataOffset, uint64_t n, uint8_t* destination) {
  if (!pageDataInside(rawStart, dataOffset, n)) return false;
  const uint64_t pageSize = m_geometry.pageSize;
  const uint64_t chunkPages = std::max<uint64_t>(1, kCopyChunk / rawPage());
  std::vector<uint8_t> scratch;
  while (n > 0) {
    const uint64_t page = dataOffset / pageSize;
    const uint64_t within = dataOffset % pageSize;
    const uint64_t pages = std::min(chunkPages, (within + n + pageSize - 1) / pageSize);
    const uint64_t dataInRun = std::min(pages * pageSize - within, n);
    const uint64_t lastPageBytes = within + dataInRun - (pages - 1) * pageSize;
    const uint64_t rawLength = (pages - 1) * rawPage() + lastPageBytes;
    scratch.resize(rawLength);
    if (!m_source.readAt(rawStart + page * rawPage(), scratch.data(), rawLength)) return false;
    uint64_t copied = 0;
    for (uint64_t i = 0; i < pages; ++i) {
      const uint64_t from = i == 0 ? within : 0;
      const uint64_t length = std::min(pageSize - from, dataInRun - copied);
      std::memcpy(destination + copied, scratch.data() + i * rawPage() + from, length);
      copied += length;
    }
    destination += dataInRun;
    dataOffset += dataInRun;
    n -= dataInRun;
  }
  return true;
}

std::optional<FsHeader> PackageReader::findMarkedPageTail(uint64_t rawStart) {
  if (!m_source.contains(rawStart, m_geometry.rawBlockSize)) return std::nullopt;
  std::vector<uint8_t> block(m_geometry.rawBlockSize);
  if (!m_source.readAt(rawStart, block.data(), block.size())) return std::nullopt;
  return findFsHeaderInRawBlock(block, m_geometry);
}

std::unique_ptr<uint8_t[]> PackageReader::allocateImage(uint64_t n) {
  if (n > m_imageBudget || n > UINT32_MAX) return nullptr;
  m_imageBudget -= n;
  return std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(std::max<uint64_t>(n, 1)));
}

}  // namespace hx
