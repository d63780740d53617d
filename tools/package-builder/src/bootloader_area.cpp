// Entries 1 and 2: the bootloader area (with the package header and entry
// table in its head) and the ext bootloader.
#include <algorithm>
#include <array>
#include <cstring>
#include <stdexcept>
#include <string>

#include "byte_stream.h"
#include "le_bytes.h"
#include "package_parts.h"
#include "page_writer.h"

namespace pkgbuild::detail {
namespace {

constexpr char kBootloaderMarker[] = "MTK_BLOADER_INFO_v";
constexpr uint32_t kMarkerLength = 18;
constexpr uint32_t kTrailerExtLengthOffset = 20;

uint32_t recordSizeFor(uint32_t version) {
  switch (version) {
    case 1: return 108;
    case 2: return 132;
    default: return 136;
  }
}

// Header, entry table and terminator in the first 512 data bytes of block 0.
void writeAreaHead(std::vector<uint8_t>& pkg, const Geometry& g, PackageLayout& layout) {
  std::fill_n(pkg.begin(), kAreaHeadSize, uint8_t{0});
  putLe16(&pkg[0], static_cast<uint16_t>(g.pageSize));
  putLe16(&pkg[2], static_cast<uint16_t>(g.blockKiB));
  putLe32(&pkg[16], layout.span);
  uint64_t at = kPackageHeaderSize;
  for (EntryLayout& e : layout.entries) {
    e.recordOffset = at;
    putLe32(&pkg[at], e.firstBlock);
    putLe32(&pkg[at + 4], e.blockCount);
    pkg[at + 11] = static_cast<uint8_t>(e.type);
    at += kEntrySize;
  }
  layout.terminatorOffset = at;
  std::fill_n(pkg.begin() + static_cast<std::ptrdiff_t>(at), kEntrySize, uint8_t{0xFF});
}

// The record ending L + 4 bytes before the bootloader's end, then L. The
// record's bytes after the fields keep their generated content.
void writeBootloaderInfo(std::vector<uint8_t>& pkg, const Geometry& g, const BootloaderRecipe& bl,
                         uint64_t bootloaderOffset, PackageLayout& layout) {
  if (!bl.withRecord) return;
  const uint32_t L = bl.recordLength ? bl.recordLength : recordSizeFor(bl.infoVersion);
  if (bl.length < 4) throw std::invalid_argument("a bootloader with a record needs at least 4 bytes");
  layout.bootloaderInfoLength = L;
  std::array<uint8_t, 4> lengthWord{};
  putLe32(lengthWord.data(), L);
  writePageData(pkg, g, 0, bootloaderOffset + bl.length - 4, lengthWord);
  if (uint64_t{L} + 4 > bl.length) return;  // only the length word: a record that cannot be there

  const uint64_t recordOffset = bootloaderOffset + bl.length - 4 - L;
  std::vector<uint8_t> record(L);
  readPageData(pkg, g, 0, recordOffset, record);
  std::vector<uint8_t> fields(100, 0);
  std::memcpy(fields.data(), kBootloaderMarker, kMarkerLength);
  const std::string version = std::to_string(bl.infoVersion);
  std::memcpy(fields.data() + kMarkerLength, version.data(), std::min<size_t>(version.size(), 69));
  putLe32(&fields[88], bl.headerWord);
  putLe32(&fields[92], bl.checksumSeed);
  putLe32(&fields[96], bl.word96);
  std::copy_n(fields.begin(), std::min<size_t>(fields.size(), L), record.begin());
  writePageData(pkg, g, 0, recordOffset, record);
}

}  // namespace

void writeBootloaderArea(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                         PackageLayout& layout) {
  const Geometry& g = plan.g;
  const BootloaderRecipe& bl = recipe.bootloader;
  const uint64_t areaLength = uint64_t{kAreaHeadSize} + bl.length + kTrailerSize;
  ByteStream data(recipe.seed, kBootloaderStream);
  ByteStream ecc(recipe.seed, kBootloaderStream | kSpareStreamFlag);
  fillPages(pkg, g, 0, areaLength, data, ecc);

  layout.span = bl.length + kTrailerSize;
  layout.spanOffset = 16;
  writeAreaHead(pkg, g, layout);

  layout.bootloader = {pageDataFileOffset(g, 0, kAreaHeadSize), bl.length};
  writeBootloaderInfo(pkg, g, bl, kAreaHeadSize, layout);

  const uint64_t trailer = uint64_t{kAreaHeadSize} + bl.length;
  layout.trailerOffset = pageDataFileOffset(g, 0, trailer);
  std::array<uint8_t, 4> extLength{};
  putLe32(extLength.data(), recipe.extBootloaderLength);
  writePageData(pkg, g, 0, trailer + kTrailerExtLengthOffset, extLength);
}

void writeExtBootloader(std::vector<uint8_t>& pkg, const PackageRecipe& recipe, const Plan& plan,
                        PackageLayout& layout) {
  const Geometry& g = plan.g;
  const uint64_t base = uint64_t{layout.entries[1].firstBlock} * g.rawBlockSize;
  ByteStream data(recipe.seed, kExtBootloaderStream);
  ByteStream ecc(recipe.seed, kExtBootloaderStream | kSpareStreamFlag);
  fillPages(pkg, g, base, recipe.extBootloaderLength, data, ecc);
  layout.extBootloader = {base, recipe.extBootloaderLength};
}

}  // namespace pkgbuild::detail
