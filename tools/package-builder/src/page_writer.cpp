#include "page_writer.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace pkgbuild::detail {

uint64_t pageDataFileOffset(const Geometry& g, uint64_t base, uint64_t imageOffset) {
  return base + (imageOffset / g.pageSize) * g.rawPageSize() + imageOffset % g.pageSize;
}

namespace {

void checkRange(size_t size, uint64_t at, uint64_t n) {
  if (at > size || n > size - at) throw std::out_of_range("page data reaches past the package");
}

}  // namespace

void writePageData(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base,
                   uint64_t imageOffset, std::span<const uint8_t> bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const uint64_t at = pageDataFileOffset(g, base, imageOffset + done);
    const uint64_t inPage = g.pageSize - (imageOffset + done) % g.pageSize;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(inPage, bytes.size() - done));
    checkRange(pkg.size(), at, n);
    std::copy_n(bytes.begin() + done, n, pkg.begin() + at);
    done += n;
  }
}

void readPageData(const std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base,
                  uint64_t imageOffset, std::span<uint8_t> out) {
  size_t done = 0;
  while (done < out.size()) {
    const uint64_t at = pageDataFileOffset(g, base, imageOffset + done);
    const uint64_t inPage = g.pageSize - (imageOffset + done) % g.pageSize;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(inPage, out.size() - done));
    checkRange(pkg.size(), at, n);
    std::copy_n(pkg.begin() + at, n, out.begin() + done);
    done += n;
  }
}

namespace {

void writeSpare(uint8_t* spare, const Geometry& g, ByteStream& ecc) {
  std::array<uint8_t, 64> eccBytes{};
  ecc.fill(eccBytes.data(), g.spareSize - 6);
  writeProgrammedSpare({spare, g.spareSize}, {eccBytes.data(), g.spareSize - 6});
}

}  // namespace

void fillPages(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base, uint64_t length,
               ByteStream& data, ByteStream& ecc) {
  const uint64_t pages = (length + g.pageSize - 1) / g.pageSize;
  checkRange(pkg.size(), base, pages * g.rawPageSize());
  for (uint64_t p = 0; p < pages; ++p) {
    uint8_t* page = pkg.data() + base + p * g.rawPageSize();
    const uint64_t n = std::min<uint64_t>(g.pageSize, length - p * g.pageSize);
    data.fill(page, static_cast<size_t>(n));
    writeSpare(page + g.pageSize, g, ecc);
  }
}

void programPage(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t pageOffset,
                 ByteStream& data, ByteStream& ecc) {
  checkRange(pkg.size(), pageOffset, g.rawPageSize());
  data.fill(pkg.data() + pageOffset, g.pageSize);
  writeSpare(pkg.data() + pageOffset + g.pageSize, g, ecc);
}

}  // namespace pkgbuild::detail
