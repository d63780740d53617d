#include "package/package_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "package/package_layout.h"

namespace hx {
namespace {

// Three raw blocks of 512-byte pages: data byte d of raw page p is
// (p * 7 + d) & 0xFF, spare bytes 0xEE.
std::vector<uint8_t> rawPages(const NandGeometry& g, uint32_t pages) {
  std::vector<uint8_t> bytes;
  for (uint32_t p = 0; p < pages; ++p) {
    for (uint32_t d = 0; d < g.pageSize; ++d) bytes.push_back(static_cast<uint8_t>(p * 7 + d));
    bytes.insert(bytes.end(), g.spareSize, 0xEE);
  }
  return bytes;
}

TEST(PackageGeometry, SpareSizeFollowsThePageSize) {
  EXPECT_EQ(geometryFromHeader({512, 16}).spareSize, 16u);
  EXPECT_EQ(geometryFromHeader({512, 16}).rawBlockSize, 16896u);
  EXPECT_EQ(geometryFromHeader({2048, 128}).spareSize, 64u);
  EXPECT_EQ(geometryFromHeader({2048, 128}).rawBlockSize, 135168u);
  EXPECT_EQ(geometryFromHeader({4096, 256}).spareSize, 64u);
}

TEST(PackageReader, PageDataSkipsSpareBytesAcrossPagesAndChunks) {
  const NandGeometry g = geometryFromHeader({512, 16});
  const auto bytes = rawPages(g, 3 * 32);
  MemoryPackageSource source(bytes);
  PackageReader reader(source, g);
  std::vector<uint8_t> out(513, 0);
  ASSERT_TRUE(reader.readPageData(0, 0, 513, out.data()));
  EXPECT_EQ(out[511], 511 & 0xFF);
  EXPECT_EQ(out[512], 7) << "the first data byte of page 1, not a spare byte";
  ASSERT_TRUE(reader.readPageData(g.rawBlockSize, 511, 2, out.data()));
  EXPECT_EQ(out[0], static_cast<uint8_t>(32 * 7 + 511));
  EXPECT_EQ(out[1], static_cast<uint8_t>(33 * 7));
  EXPECT_TRUE(reader.readPageData(0, 0, 0, out.data()));
  std::vector<uint8_t> all(3 * 32 * 512);
  ASSERT_TRUE(reader.readPageData(0, 0, all.size(), all.data()));
  for (uint32_t p = 0; p < 96; ++p) ASSERT_EQ(all[p * 512 + 3], static_cast<uint8_t>(p * 7 + 3)) << p;
  EXPECT_FALSE(reader.readPageData(0, 0, all.size() + 1, all.data())) << "one byte past the package";
}

TEST(PackageReader, MarkedPageTailIsTheLastMarkedPage) {
  const NandGeometry g = geometryFromHeader({512, 16});
  auto bytes = rawPages(g, 32);
  for (uint32_t p : {3u, 10u}) {
    bytes[p * 528 + 512 + 2] = 0x0F;
    bytes[p * 528 + 512 + 3] = 0x0D;
  }
  bytes[20 * 528 + 512 + 2] = 0x0D;  // the other order marks nothing
  bytes[20 * 528 + 512 + 3] = 0x0F;
  MemoryPackageSource source(bytes);
  PackageReader reader(source, g);
  const auto tail = reader.findMarkedPageTail(0);
  ASSERT_TRUE(tail);
  EXPECT_EQ(tail->bytes[0], 70) << "page 10's data";
  EXPECT_FALSE(reader.findMarkedPageTail(1)) << "a block that reaches past the package";
}

}  // namespace
}  // namespace hx
