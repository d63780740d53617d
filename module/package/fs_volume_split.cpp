#include "package/fs_volume_split.h"

#include <cstring>

#include "formats/fs_image_header.h"
#include "formats/little_endian.h"

namespace hx {

namespace {

// The fields of the entry's own FS image header that a split reads.
struct EntryFsHeader {
  uint8_t bytes[kFsImageHeaderSize];
  uint32_t infoBlocksBefore() const { return loadLe32(bytes + kFsInfoBlocksBeforeOffset); }
  uint32_t regionCount() const { return loadLe32(bytes + kFsRegionCountOffset); }
  uint32_t reservedCount() const { return loadLe32(bytes + kFsReservedCountOffset); }
  uint32_t countersEnd() const { return loadLe32(bytes + kFsCountersEndOffset); }
};

bool readEntryFsHeader(PackageReader& reader, const PackageEntry& entry, EntryFsHeader& header) {
  return entry.blockCount > 0 && reader.readRaw(reader.blockOffset(entry.firstBlock), kFsImageHeaderSize, header.bytes);
}

// The FsHeader of the entry's FS info block, when the block lies inside the entry.
std::optional<FsHeader> entryFsHeader(PackageReader& reader, const PackageEntry& entry, const EntryFsHeader& h) {
  if (h.infoBlocksBefore() >= entry.blockCount) return std::nullopt;
  return reader.findMarkedPageTail(reader.blockOffset(uint64_t{entry.firstBlock} + h.infoBlocksBefore()));
}

bool fail(std::string& problem, std::string reason) {
  problem = std::move(reason);
  return false;
}

// One volume's FS image: rebuilt header and words, the info area, the
// volume's data blocks.
struct VolumeSplit {
  uint64_t mapped = 0;           // the volume's data blocks
  uint64_t firstDataBlock = 0;   // raw block of its data, counted from the entry's first block
  uint64_t infoBlocksBefore = 0; // of the new image
};

void writeSplitHeader(uint8_t* image, const EntryFsHeader& entry, const VolumeSplit& v) {
  std::memcpy(image, entry.bytes, kFsImageHeaderSize);
  const uint32_t mapped = static_cast<uint32_t>(v.mapped);
  storeLe32(image + kFsMappedCountOffset, mapped);
  storeLe32(image + kFsEraseStartIndexOffset, mapped);
  storeLe32(image + kFsTotalBlocksOffset, mapped + entry.reservedCount());
  storeLe32(image + kFsBlocksPerRegionOffset, mapped / entry.regionCount());
  storeLe32(image + kFsInfoBlocksBeforeOffset, static_cast<uint32_t>(v.infoBlocksBefore));
}

void writeSplitWords(uint8_t* image, const EntryFsHeader& entry, uint32_t firstVolumeBlock, uint32_t firstInfoBlock,
                     uint64_t mapped) {
  const uint32_t regions = entry.regionCount();
  uint8_t* word = image + kFsImageHeaderSize;
  for (uint64_t j = 0; j < mapped; ++j, word += 4) {
    storeLe32(word, static_cast<uint32_t>((j % regions) & 0xFF) | ((firstVolumeBlock + static_cast<uint32_t>(j)) << 8));
  }
  for (uint32_t j = 0; j < entry.reservedCount(); ++j, word += 4) {
    storeLe32(word, ((j % regions) & 0xFF) | ((firstInfoBlock + j) << 8));
  }
}

}  // namespace

bool isMultiVolumeFs(PackageReader& reader, const PackageEntry& entry) {
  EntryFsHeader header;
  if (!readEntryFsHeader(reader, entry, header)) return false;
  const auto fsHeader = entryFsHeader(reader, entry, header);
  return fsHeader && isFsVersion520(*fsHeader);
}

bool copyRawFsImage(PackageReader& reader, const PackageEntry& entry, uint32_t entryIndex,
                    std::vector<PackageImage>& images, std::string& problem) {
  const uint64_t length = uint64_t{entry.blockCount} * reader.geometry().rawBlockSize;
  auto bytes = reader.allocateImage(length);
  if (!bytes) return fail(problem, "the FS images would exceed twice the package's size");
  if (!reader.readRaw(reader.blockOffset(entry.firstBlock), length, bytes.get())) {
    return fail(problem, "cannot read the FS entry's blocks");
  }
  images.push_back(PackageImage{kImageFs, std::move(bytes), static_cast<uint32_t>(length), entryIndex, -1});
  return true;
}

bool splitFsVolumes(PackageReader& reader, const PackageEntry& entry, uint32_t entryIndex,
                    std::vector<PackageImage>& images, std::string& problem) {
  const NandGeometry& g = reader.geometry();
  EntryFsHeader header;
  if (!readEntryFsHeader(reader, entry, header)) return fail(problem, "cannot read the FS entry's header");
  const auto fsHeader = entryFsHeader(reader, entry, header);
  if (!fsHeader) return fail(problem, "the FS entry's info block has no marked page");
  if (header.regionCount() == 0) return fail(problem, "the FS entry's region count is 0");
  const uint64_t reserved = header.reservedCount();
  if (kFsImageHeaderSize + 4 * reserved > uint64_t{header.infoBlocksBefore()} * g.rawBlockSize) {
    return fail(problem, "the FS entry declares more reserved blocks than its header holds");
  }
  const uint64_t infoArea = (uint64_t{header.countersEnd()} + g.blockDataSize - 1) / g.blockDataSize;
  const uint64_t dataStart = uint64_t{header.infoBlocksBefore()} + infoArea;  // first data block in the entry
  if (dataStart > entry.blockCount) return fail(problem, "the FS info area reaches past its entry");

  const uint32_t firstInfoBlock = fsHeader->infoAreaStart() / g.blockDataSize;
  for (uint32_t i = 0; i < kFsVolumeCount && fsHeader->volumeLength(i) != 0; ++i) {
    if (fsHeader->volumeStart(i) < fsHeader->volumeStart(0)) {
      return fail(problem, "FS volume " + std::to_string(i) + " starts before volume 0");
    }
    VolumeSplit v;
    v.mapped = fsHeader->volumeLength(i) / g.blockDataSize;
    v.firstDataBlock = dataStart + (fsHeader->volumeStart(i) - fsHeader->volumeStart(0)) / g.blockDataSize;
    if (v.firstDataBlock + v.mapped > entry.blockCount) {
      return fail(problem, "FS volume " + std::to_string(i) + " reaches past its entry");
    }
    v.infoBlocksBefore = (g.blockDataSize + 4 * (v.mapped + reserved) + 47) / g.blockDataSize;
    const uint64_t headerBytes = v.infoBlocksBefore * g.rawBlockSize;
    const uint64_t length = headerBytes + (infoArea + v.mapped) * g.rawBlockSize;
    auto bytes = reader.allocateImage(length);
    if (!bytes) return fail(problem, "the FS images would exceed twice the package's size");
    std::memset(bytes.get(), 0xFF, headerBytes);
    writeSplitHeader(bytes.get(), header, v);
    writeSplitWords(bytes.get(), header, fsHeader->volumeStart(i) / g.blockDataSize, firstInfoBlock, v.mapped);
    const uint64_t entryStart = reader.blockOffset(entry.firstBlock);
    if (!reader.readRaw(entryStart + uint64_t{header.infoBlocksBefore()} * g.rawBlockSize, infoArea * g.rawBlockSize,
                        bytes.get() + headerBytes) ||
        !reader.readRaw(entryStart + v.firstDataBlock * g.rawBlockSize, v.mapped * g.rawBlockSize,
                        bytes.get() + headerBytes + infoArea * g.rawBlockSize)) {
      return fail(problem, "cannot read FS volume " + std::to_string(i));
    }
    images.push_back(PackageImage{kImageFs, std::move(bytes), static_cast<uint32_t>(length), entryIndex,
                                  static_cast<int32_t>(i)});
  }
  return true;
}

}  // namespace hx
