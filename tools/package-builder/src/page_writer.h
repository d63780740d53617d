#pragma once
// Placing image bytes into the page data of raw blocks, and reading them back.
// An image's page data starts at a page start (file offset `base`); image
// byte i lies in page i / pageSize at i % pageSize.
#include <cstdint>
#include <span>
#include <vector>

#include "byte_stream.h"
#include "pkgbuild/nand_format.h"

namespace pkgbuild::detail {

uint64_t pageDataFileOffset(const Geometry& g, uint64_t base, uint64_t imageOffset);

// Copies bytes into / out of an image's page data at an image offset.
void writePageData(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base,
                   uint64_t imageOffset, std::span<const uint8_t> bytes);
void readPageData(const std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base,
                  uint64_t imageOffset, std::span<uint8_t> out);

// Fills the first `length` page-data bytes of consecutive pages from `data` and
// gives every page it touches a programmed spare whose ECC bytes come from `ecc`.
void fillPages(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t base, uint64_t length,
               ByteStream& data, ByteStream& ecc);

// Programs one page at a raw-page file offset: its data from `data`, a programmed spare.
void programPage(std::vector<uint8_t>& pkg, const Geometry& g, uint64_t pageOffset,
                 ByteStream& data, ByteStream& ecc);

}  // namespace pkgbuild::detail
