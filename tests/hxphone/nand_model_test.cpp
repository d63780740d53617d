// The NAND rules: erased is 0xFF, programming only clears bits, erasing
// restores 0xFF but never touches a bad block, bad blocks carry markers.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <unistd.h>

#include "hxphone/flash_layout.h"
#include "hxphone/nand_model.h"

namespace hxphone {
namespace {

std::vector<uint8_t> page(const NandGeometry& g, uint8_t v) { return std::vector<uint8_t>(g.pageSize, v); }

TEST(NandModel, ProgramOnlyClearsBitsAndEraseRestores) {
  NandModel nand(NandGeometry::smallPage(32));
  const NandGeometry& g = nand.geometry();
  std::vector<uint8_t> data(g.pageSize), spare(g.spareSize);
  nand.readPage(3, 1, data.data(), spare.data());
  EXPECT_EQ(data, page(g, 0xFF));
  std::vector<uint8_t> s0(g.spareSize, 0xF0);
  ASSERT_TRUE(nand.programPage(3, 1, page(g, 0x0F).data(), s0.data()));
  ASSERT_TRUE(nand.programPage(3, 1, page(g, 0xF3).data(), nullptr));
  nand.readPage(3, 1, data.data(), spare.data());
  EXPECT_EQ(data, page(g, 0x03));  // 0x0F AND 0xF3
  EXPECT_EQ(spare, s0);
  nand.eraseBlock(3);
  nand.readPage(3, 1, data.data(), spare.data());
  EXPECT_EQ(data, page(g, 0xFF));
  EXPECT_EQ(spare, std::vector<uint8_t>(g.spareSize, 0xFF));
}

TEST(NandModel, FactoryBadMarkersForBothPageSizes) {
  for (NandGeometry g : {NandGeometry::smallPage(32), NandGeometry::largePage(32)}) {
    NandModel nand(g);
    nand.markFactoryBad(7);
    EXPECT_TRUE(nand.isBad(7));
    auto raw = nand.rawBlock(7);
    EXPECT_TRUE(NandModel::rawBlockMarkedBad(raw, g));
    if (g.pageSize == 512) {
      EXPECT_EQ(raw[517], 0x00);
      EXPECT_EQ(raw[528 + 517], 0x00);
    } else {
      EXPECT_EQ(raw[2048], 0x00);
      EXPECT_EQ(raw[2112 + 2049], 0x00);
    }
    nand.eraseBlock(7);  // a bad block keeps its markers
    EXPECT_TRUE(NandModel::rawBlockMarkedBad(nand.rawBlock(7), g));
    EXPECT_FALSE(NandModel::rawBlockMarkedBad(nand.rawBlock(8), g));
  }
}

TEST(NandModel, MarkerByteWithOneZeroBitStillCountsAsGood) {
  NandGeometry g = NandGeometry::largePage(32);
  std::vector<uint8_t> raw(g.rawBlockSize(), 0xFF);
  raw[2048] = 0xFE;
  EXPECT_FALSE(NandModel::rawBlockMarkedBad(raw, g));
  raw[2048] = 0xFC;
  EXPECT_TRUE(NandModel::rawBlockMarkedBad(raw, g));
}

TEST(NandModel, FailingBlockFailsOnceProgrammedAndIsThenBad) {
  NandModel nand(NandGeometry::largePage(32));
  nand.setFailsWhenProgrammed(9);
  EXPECT_FALSE(nand.isBad(9));
  EXPECT_FALSE(nand.programPage(9, 0, page(nand.geometry(), 0).data(), nullptr));
  EXPECT_TRUE(nand.isBad(9));
  EXPECT_TRUE(NandModel::rawBlockMarkedBad(nand.rawBlock(9), nand.geometry()));
}

TEST(NandModel, DumpRoundTripKeepsBytesAndBadBlocks) {
  NandModel nand(NandGeometry::smallPage(20));
  nand.markFactoryBad(4);
  ASSERT_TRUE(nand.programPage(11, 5, page(nand.geometry(), 0x42).data(), nullptr));
  auto path = std::filesystem::temp_directory_path() / ("hxphone-dump-" + std::to_string(::getpid()) + ".bin");
  nand.writeDump(path.string());
  EXPECT_EQ(std::filesystem::file_size(path), 20u * 16896u);
  NandModel back = NandModel::readDump(path.string(), NandGeometry::smallPage(0));
  std::filesystem::remove(path);
  EXPECT_EQ(back.geometry().blockCount, 20u);
  EXPECT_TRUE(back.isBad(4));
  EXPECT_EQ(back.rawBlock(11), nand.rawBlock(11));
}

TEST(FlashLayout, ImagesSkipBadBlocksAndReadBackTheSame) {
  NandModel nand(NandGeometry::smallPage(64));
  nand.markFactoryBad(3);
  nand.setFailsWhenProgrammed(5);
  std::vector<uint8_t> image(3 * 16384 + 100);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i * 7);
  BlockExtent stored = storePageData(nand, 2, image);
  // Block 2, skip 3 (factory bad), 4, 5 fails while programmed, 6, 7.
  EXPECT_EQ(stored.first, 2u);
  EXPECT_EQ(stored.end, 8u);
  EXPECT_TRUE(nand.isBad(5));
  BlockExtent loaded;
  EXPECT_EQ(loadPageData(nand, 2, image.size(), &loaded), image);
  EXPECT_EQ(loaded.end, 8u);
}

}  // namespace
}  // namespace hxphone
