#include "formats/fs_header.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "fs_test_image.h"
#include "formats/little_endian.h"
#include "formats/page_split.h"
#include "formats/rom_info.h"

namespace hx {
namespace {

// A raw block whose marked pages carry their page number in the header's
// byte 0 (which is data byte pageSize - 512 of the page).
std::vector<uint8_t> blockWithMarkedPages(const NandGeometry& g, std::initializer_list<uint32_t> pages) {
  std::vector<uint8_t> raw(g.rawBlockSize, 0xFF);
  for (uint32_t p : pages) {
    test::markInfoPage(raw.data(), g, p);
    raw[p * (g.pageSize + g.spareSize) + g.pageSize - 512] = static_cast<uint8_t>(p);
  }
  return raw;
}

TEST(PageSplit, SeparatesDataAndSpareAndSharesBytesBetweenCopies) {
  const NandGeometry g = fsImageGeometry(512, 16);
  std::vector<uint8_t> raw(g.rawBlockSize);
  for (size_t i = 0; i < raw.size(); ++i) raw[i] = static_cast<uint8_t>(i % 528 < 512 ? 1 : 2);
  raw[528] = 7;  // first data byte of page 1
  const auto split = splitRawBlock(raw, g);
  ASSERT_TRUE(split);
  ASSERT_EQ(split->data->size(), 16384u);
  ASSERT_EQ(split->spare->size(), 512u);
  EXPECT_EQ((*split->data)[512], 7);
  EXPECT_EQ(std::count(split->data->begin(), split->data->end(), 2), 0);
  EXPECT_EQ(std::count(split->spare->begin(), split->spare->end(), 2), 512);
  PageSplit copy = *split;
  (*copy.data)[0] = 0x55;
  EXPECT_EQ((*split->data)[0], 0x55);
  EXPECT_FALSE(splitRawBlock(std::span(raw).first(raw.size() - 1), g));
}

TEST(FsHeaderSearch, TakesTheLastMarkedPageInBothForms) {
  for (const NandGeometry& g : {fsImageGeometry(2048, 128), fsImageGeometry(512, 16)}) {
    const auto raw = blockWithMarkedPages(g, {3, 10, 11, 12, 13});
    const auto split = splitRawBlock(raw, g);
    const auto fromSplit = findFsHeader(*split, g);
    const auto fromRaw = findFsHeaderInRawBlock(raw, g);
    ASSERT_TRUE(fromSplit && fromRaw);
    EXPECT_EQ(fromSplit->bytes[0], 13);
    EXPECT_EQ(fromSplit->bytes, fromRaw->bytes);
  }
}

TEST(FsHeaderSearch, NeedsTheMarkBytesInOrder) {
  const NandGeometry g = fsImageGeometry(2048, 128);
  std::vector<uint8_t> raw(g.rawBlockSize, 0xFF);
  raw[2048 + 2] = 0x0D;
  raw[2048 + 3] = 0x0F;
  EXPECT_FALSE(findFsHeaderInRawBlock(raw, g));
  EXPECT_FALSE(findFsHeader(*splitRawBlock(raw, g), g));
  EXPECT_FALSE(findFsHeaderInRawBlock(std::span(raw).first(100), g)) << "a short block is not searched";
}

FsHeader headerWithVolumes(std::initializer_list<std::pair<uint32_t, uint32_t>> volumes) {
  FsHeader h;
  uint32_t i = 0;
  for (auto [start, length] : volumes) {
    storeLe32(h.bytes.data() + 396 + 8 * i, start);
    storeLe32(h.bytes.data() + 400 + 8 * i, length);
    ++i;
  }
  h.bytes[460] = 5;
  h.bytes[461] = 2;
  h.bytes[462] = 0;
  return h;
}

TEST(FsHeader, VersionAndLayoutTests) {
  FsHeader a = headerWithVolumes({{0x100000, 0x200000}});
  storeLe32(a.bytes.data() + 388, 0x80000);
  storeLe32(a.bytes.data() + 392, 0x40000);
  EXPECT_EQ(a.infoAreaStart(), 0x80000u);
  EXPECT_EQ(a.infoAreaLength(), 0x40000u);
  EXPECT_EQ(a.volumeLength(0), 0x200000u);
  EXPECT_EQ(a.volumeLength(8), 0u);
  EXPECT_TRUE(isFsVersion520(a));
  FsHeader b = a;
  b.bytes[0] = 1;  // outside the layout
  EXPECT_TRUE(sameFsLayout(a, b));
  b.bytes[400 + 8 * 7] = 1;  // volume 7's length
  EXPECT_FALSE(sameFsLayout(a, b));
  b = a;
  b.bytes[462] = 1;
  EXPECT_FALSE(isFsVersion520(b));
  EXPECT_FALSE(sameFsVersion(a, b));
  EXPECT_TRUE(sameFsLayout(a, b));
}

TEST(FsHeader, FsAreaTest) {
  std::vector<uint8_t> rom(kRomInfoRecordMax, 0);
  storeLe16(rom.data() + 210, 2);
  storeLe32(rom.data() + 236, 0x1000000);
  storeLe32(rom.data() + 240, 0x1000000);
  std::memcpy(rom.data() + 332, "05200001", 8);
  EXPECT_TRUE(fsAreaFits(rom.data(), headerWithVolumes({{0x1000000, 0x1000000}, {0, 0}, {5, 0}})))
      << "a volume ending exactly at the area's end fits; empty volumes fit anywhere";
  EXPECT_FALSE(fsAreaFits(rom.data(), headerWithVolumes({{0x1000000, 0x1000001}})));
  EXPECT_FALSE(fsAreaFits(rom.data(), headerWithVolumes({{0xFFFFFF, 0x10}})));
  EXPECT_FALSE(fsAreaFits(rom.data(), headerWithVolumes({{0x1000000, 0}, {0xFFFFFFFF, 0xFFFFFFFF}})))
      << "volumes after an empty one are checked too, without overflow";
  const FsHeader fits = headerWithVolumes({{0x1000000, 0x1000}});
  auto damaged = rom;
  storeLe16(damaged.data() + 210, 1);
  EXPECT_FALSE(fsAreaFits(damaged.data(), fits));
  damaged = rom;
  storeLe32(damaged.data() + 240, 0);
  EXPECT_FALSE(fsAreaFits(damaged.data(), fits));
  damaged = rom;
  damaged[332] = '1';
  EXPECT_FALSE(fsAreaFits(damaged.data(), fits));
}

}  // namespace
}  // namespace hx
