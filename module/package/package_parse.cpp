#include "package/package_parse.h"

#include <algorithm>
#include <cstring>

#include "formats/little_endian.h"
#include "package/fs_volume_split.h"
#include "package/package_reader.h"

namespace hx {

namespace {

constexpr uint64_t kLargestPackage = UINT32_MAX;  // image lengths are 32-bit

class PackageParse {
 public:
  PackageParse(PackageReader& reader, LoadedPackage& package, std::string& problem)
      : m_reader(reader), m_package(package), m_problem(problem) {}

  bool run() {
    return checkEntriesInside() && readBootloader() && readExtBootloader() && readImageTable() &&
           readImageEntries();
  }

 private:
  bool fail(std::string reason) {
    m_problem = std::move(reason);
    return false;
  }

  const PackageEntry& entry(size_t i) const { return m_package.entries[i]; }
  uint64_t entryStart(size_t i) const { return m_reader.blockOffset(entry(i).firstBlock); }

  // Reads n page-data bytes from `dataOffset` of entry i as an image.
  bool appendPageDataImage(uint32_t type, size_t i, uint64_t dataOffset, uint64_t n, const char* what) {
    if (!m_reader.pageDataInside(entryStart(i), dataOffset, n)) {
      return fail(std::string(what) + " (entry " + std::to_string(i + 1) + ", " + std::to_string(n) +
                  " bytes) reaches past the end of the file");
    }
    auto bytes = m_reader.allocateImage(n);
    if (!bytes) return fail(std::string(what) + ": the images would exceed twice the package's size");
    if (!m_reader.readPageData(entryStart(i), dataOffset, n, bytes.get())) {
      return fail(std::string("cannot read ") + what);
    }
    m_package.images.push_back(PackageImage{type, std::move(bytes), static_cast<uint32_t>(n),
                                            static_cast<uint32_t>(i), -1});
    return true;
  }

  bool checkEntriesInside() {
    if (m_package.entries.size() < 3) {
      return fail("the entry table has " + std::to_string(m_package.entries.size()) + " entries, fewer than 3");
    }
    for (size_t i = 0; i < m_package.entries.size(); ++i) {
      if (!m_reader.entryInside(entry(i))) {
        return fail("entry " + std::to_string(i + 1) + " (blocks " + std::to_string(entry(i).firstBlock) + "+" +
                    std::to_string(entry(i).blockCount) + ") reaches past the end of the file");
      }
    }
    return true;
  }

  // The first entry's data: a 512-byte head whose word at 16 is the span
  // (bootloader length + 128), the bootloader, then a 128-byte trailer.
  bool readBootloader() {
    const uint64_t areaLength = uint64_t{entry(0).blockCount} * m_reader.geometry().blockDataSize;
    if (areaLength < kBootloaderAreaHead) return fail("the bootloader area is shorter than 512 bytes");
    uint8_t word[4];
    if (!m_reader.readPageData(entryStart(0), kBootloaderSpanOffset, 4, word)) {
      return fail("cannot read the bootloader span");
    }
    const uint32_t span = loadLe32(word);
    m_package.bootloaderSpan = span;
    if (span < kBootloaderTrailerSize) return fail("the bootloader span " + std::to_string(span) + " is below 128");
    if (kBootloaderAreaHead + uint64_t{span} > areaLength) {
      return fail("the bootloader span " + std::to_string(span) + " reaches past the bootloader area");
    }
    uint8_t trailer[kBootloaderTrailerSize];
    if (!m_reader.readPageData(entryStart(0), kBootloaderAreaHead + span - kBootloaderTrailerSize, sizeof trailer,
                               trailer)) {
      return fail("cannot read the bootloader trailer");
    }
    m_extLength = loadLe32(trailer + kTrailerExtLengthOffset);
    return appendPageDataImage(kImageBootloader, 0, kBootloaderAreaHead, span - kBootloaderTrailerSize,
                               "the bootloader");
  }

  bool readExtBootloader() {
    return appendPageDataImage(kImageExtBootloader, 1, 0, m_extLength, "the ext bootloader");
  }

  // 324 bytes from the start of the third page of the third entry's first block.
  bool readImageTable() {
    const NandGeometry& g = m_reader.geometry();
    const uint64_t offset = 2ull * g.pageSize;
    if (entry(2).blockCount == 0 || offset + kImageTableSize > g.blockDataSize) {
      return fail("the image table does not fit in the third entry's first block");
    }
    if (!m_reader.readPageData(entryStart(2), offset, kImageTableSize, m_imageTable)) {
      return fail("cannot read the image table");
    }
    return true;
  }

  bool readImageEntries() {
    uint32_t n = 1;  // number of the next ROM, secondary ROM or listed image
    for (size_t i = 3; i < m_package.entries.size(); ++i) {
      const uint8_t type = entry(i).type;
      if (type == kEntryRomImage || type == kEntrySecondaryRomImage || type == kEntryListedImage) {
        if (n > kImageTableLengths) return fail("more than 19 image entries");
        const uint32_t length = loadLe32(m_imageTable + imageTableLengthOffset(n));
        const char* what = type == kEntryRomImage ? "the ROM image" :
                           type == kEntrySecondaryRomImage ? "the secondary ROM image" : "a listed image";
        if (!appendPageDataImage(type, i, 0, length, what)) return false;
        ++n;
      } else if (type == kEntryFsImage) {
        if (!readFsEntry(i)) return false;
      } else if (type < kEntryRomImage || type == 6 || type == 7) {
        return fail("entry " + std::to_string(i + 1) + " has type " + std::to_string(type) +
                    ", not allowed after the third entry");
      }
    }
    return true;
  }

  bool readFsEntry(size_t i) {
    if (entry(i).blockCount == 0) return fail("FS entry " + std::to_string(i + 1) + " holds no blocks");
    std::string reason;
    const bool ok = isMultiVolumeFs(m_reader, entry(i))
                        ? splitFsVolumes(m_reader, entry(i), static_cast<uint32_t>(i), m_package.images, reason)
                        : copyRawFsImage(m_reader, entry(i), static_cast<uint32_t>(i), m_package.images, reason);
    return ok || fail("FS entry " + std::to_string(i + 1) + ": " + reason);
  }

  PackageReader& m_reader;
  LoadedPackage& m_package;
  std::string& m_problem;
  uint32_t m_extLength = 0;
  uint8_t m_imageTable[kImageTableSize] = {};
};

}  // namespace

bool parsePackage(PackageSource& source, LoadedPackage& package, std::string& problem) {
  package = LoadedPackage{};
  if (source.size() > kLargestPackage) {
    problem = "the file is larger than 4 GiB";
    return false;
  }
  if (!readPackageLayout(source, package.header, package.geometry, package.entries, problem)) return false;
  PackageReader reader(source, package.geometry);
  return PackageParse(reader, package, problem).run();
}

}  // namespace hx
