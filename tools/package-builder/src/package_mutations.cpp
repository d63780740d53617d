// Hostile changes to built packages, for tests of the reader.
#include "pkgbuild/package_mutations.h"

#include <algorithm>
#include <stdexcept>

#include "le_bytes.h"
#include "page_writer.h"

namespace pkgbuild {
namespace {

void checkRange(const BuiltPackage& pkg, uint64_t at, uint64_t n) {
  if (at > pkg.bytes.size() || n > pkg.bytes.size() - at) throw std::out_of_range("patch beyond the package");
}

}  // namespace

void patchLe16(BuiltPackage& pkg, uint64_t fileOffset, uint16_t value) {
  checkRange(pkg, fileOffset, 2);
  detail::putLe16(&pkg.bytes[fileOffset], value);
}

void patchLe32(BuiltPackage& pkg, uint64_t fileOffset, uint32_t value) {
  checkRange(pkg, fileOffset, 4);
  detail::putLe32(&pkg.bytes[fileOffset], value);
}

void patchEntry(BuiltPackage& pkg, size_t index, const EntryPatch& patch) {
  const uint64_t at = pkg.layout.entries.at(index).recordOffset;
  if (patch.firstBlock) patchLe32(pkg, at, *patch.firstBlock);
  if (patch.blockCount) patchLe32(pkg, at + 4, *patch.blockCount);
  if (patch.type) {
    checkRange(pkg, at + 11, 1);
    pkg.bytes[at + 11] = *patch.type;
  }
}

void patchPageData(BuiltPackage& pkg, const PageDataRef& ref, uint32_t offset, std::span<const uint8_t> bytes) {
  const uint64_t inPage = ref.fileOffset % pkg.layout.geometry.rawPageSize();
  detail::writePageData(pkg.bytes, pkg.layout.geometry, ref.fileOffset - inPage, inPage + offset, bytes);
}

void truncatePackage(BuiltPackage& pkg, uint64_t size) {
  if (size < pkg.bytes.size()) pkg.bytes.resize(size);
}

void removeTerminator(BuiltPackage& pkg) { truncatePackage(pkg, pkg.layout.terminatorOffset); }

}  // namespace pkgbuild
