#include "package/package_layout.h"

#include <algorithm>
#include <vector>

#include "formats/little_endian.h"

namespace hx {

NandGeometry geometryFromHeader(const PackageHeader& header) {
  NandGeometry geometry;
  geometry.pageSize = header.pageSize;
  geometry.spareSize = header.pageSize == 512 ? 16 : 64;
  geometry.blockDataSize = header.blockKiB * 1024u;
  if (header.pageSize != 0) {
    geometry.rawBlockSize = (geometry.blockDataSize / geometry.pageSize) * (geometry.pageSize + geometry.spareSize);
  }
  return geometry;
}

namespace {

constexpr size_t kTableChunk = 64 * 1024;  // a whole number of entries

bool isTerminator(const uint8_t* record) {
  return std::all_of(record, record + kPackageEntrySize, [](uint8_t b) { return b == 0xFF; });
}

PackageEntry decodeEntry(const uint8_t* record) {
  return PackageEntry{loadLe32(record), loadLe32(record + 4), record[11]};
}

}  // namespace

bool readPackageLayout(PackageSource& source, PackageHeader& header, NandGeometry& geometry,
                       std::vector<PackageEntry>& entries, std::string& problem) {
  uint8_t head[kPackageHeaderSize];
  if (source.size() == 0) {
    problem = "the file is empty";
    return false;
  }
  if (!source.readAt(0, head, sizeof head)) {
    problem = "the file is shorter than the 32-byte header";
    return false;
  }
  header = PackageHeader{loadLe16(head), loadLe16(head + 2)};
  geometry = geometryFromHeader(header);
  if (header.pageSize < 512 || header.blockKiB == 0 || geometry.rawBlockSize == 0) {
    problem = "unusable geometry: page size " + std::to_string(header.pageSize) + ", block size " +
              std::to_string(header.blockKiB) + " KiB";
    return false;
  }
  std::vector<uint8_t> chunk(kTableChunk);
  for (uint64_t offset = kPackageHeaderSize;;) {
    const uint64_t available = source.size() - std::min(source.size(), offset);
    const size_t n = static_cast<size_t>(std::min<uint64_t>(kTableChunk, available / kPackageEntrySize * kPackageEntrySize));
    if (n == 0 || !source.readAt(offset, chunk.data(), n)) {
      problem = "the entry table has no terminator before the end of the file";
      return false;
    }
    for (size_t i = 0; i < n; i += kPackageEntrySize) {
      if (isTerminator(chunk.data() + i)) return true;
      entries.push_back(decodeEntry(chunk.data() + i));
    }
    offset += n;
  }
}

}  // namespace hx
