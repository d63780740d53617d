#include "formats/block_mapping_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <stdexcept>
#include <vector>

namespace hx {
namespace {

std::vector<uint8_t> packWords(const std::vector<std::pair<uint32_t, uint32_t>>& regionBlock) {
  std::vector<uint8_t> bytes;
  for (auto [region, block] : regionBlock) {
    const uint32_t word = (block << 8) | (region & 0xFF);
    for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<uint8_t>(word >> (8 * i)));
  }
  return bytes;
}

TEST(BlockMappingTable, DecodesPackedWordsIntoBothListsInOrder) {
  BlockMappingTable table;
  const auto words = packWords({{3, 298}, {0, 10}, {1, 900}, {0, 901}});
  ASSERT_TRUE(table.loadFromWords(words, 2, 2));
  ASSERT_EQ(table.mappedBlocks().size(), 2u);
  ASSERT_EQ(table.reservedBlocks().size(), 2u);
  EXPECT_EQ(table.regionAt(0), 3u);
  EXPECT_EQ(table.blockAt(0), 298u);
  EXPECT_EQ(table.mappedBlocks()[0].used, 0u);
  EXPECT_EQ(table.blockAt(2), 900u) << "logical index size(mapped) addresses reserved[0]";
  EXPECT_EQ(table.regionAt(3), 0u);
  EXPECT_THROW(table.blockAt(4), std::out_of_range);
}

TEST(BlockMappingTable, RefusesTooFewWordBytesAndReloadClears) {
  BlockMappingTable table;
  const auto words = packWords({{0, 1}, {0, 2}});
  ASSERT_TRUE(table.loadFromWords(words, 1, 1));
  EXPECT_FALSE(table.loadFromWords(std::span(words).first(7), 1, 1));
  EXPECT_EQ(table.size(), 0u);
  EXPECT_FALSE(table.loadFromWords(words, 0xFFFFFFFFu, 0xFFFFFFFFu));
}

TEST(BlockMappingTable, HandsOutSparesPerRegionFromFrontAndBack) {
  BlockMappingTable table;
  ASSERT_TRUE(table.loadFromWords(packWords({{0, 5}, {1, 900}, {0, 901}, {0, 902}}), 1, 3));
  EXPECT_EQ(table.peekReserved(0), 901u);
  EXPECT_EQ(table.peekReserved(0), 901u) << "peek changes nothing";
  EXPECT_EQ(table.takeReserved(0), 901u);
  EXPECT_EQ(table.takeReservedFromEnd(0), 902u);
  EXPECT_THROW(table.takeReserved(0), BlockMappingTable::RunOutOfReservedBlocks);
  EXPECT_THROW(table.peekReserved(0), BlockMappingTable::RunOutOfReservedBlocks);
  EXPECT_THROW(table.takeReservedFromEnd(0), BlockMappingTable::RunOutOfReservedBlocks);
  EXPECT_EQ(table.peekReserved(1), 900u);
  EXPECT_EQ(table.takeReserved(1), 900u);
  EXPECT_THROW(table.takeReserved(1), BlockMappingTable::RunOutOfReservedBlocks);
}

TEST(BlockMappingTable, ASpareNamedTwiceIsHandedOutOnce) {
  BlockMappingTable front;
  ASSERT_TRUE(front.loadFromWords(packWords({{0, 5}, {0, 150}, {1, 160}, {0, 150}}), 1, 3));
  EXPECT_EQ(front.takeReserved(0), 150u);
  EXPECT_THROW(front.takeReservedFromEnd(0), BlockMappingTable::RunOutOfReservedBlocks);
  BlockMappingTable back;
  ASSERT_TRUE(back.loadFromWords(packWords({{0, 5}, {0, 150}, {1, 150}, {1, 160}}), 1, 3));
  EXPECT_EQ(back.takeReservedFromEnd(0), 150u);
  EXPECT_EQ(back.takeReserved(1), 160u) << "named in another region, still the same block";
}

TEST(BlockMappingTable, TwoTakesGiveTwoBlocksAndCopiesKeepUsedFlags) {
  BlockMappingTable table;
  ASSERT_TRUE(table.loadFromWords(packWords({{0, 5}, {2, 50}, {2, 51}, {2, 52}}), 1, 3));
  BlockMappingTable copy = table;
  EXPECT_EQ(table.takeReserved(2), 50u);
  EXPECT_EQ(table.takeReserved(2), 51u);
  EXPECT_EQ(copy.takeReserved(2), 50u) << "a copy taken before has its own flags";
  BlockMappingTable later = table;
  EXPECT_EQ(later.takeReserved(2), 52u) << "a copy keeps the used flags";
}

TEST(BlockMappingTable, EmptyReserveThrowsForAnyRegion) {
  BlockMappingTable table;
  ASSERT_TRUE(table.loadFromWords(packWords({{0, 5}}), 1, 0));
  for (uint32_t region : {0u, 1u, 7u, 255u}) {
    EXPECT_THROW(table.peekReserved(region), BlockMappingTable::RunOutOfReservedBlocks);
    EXPECT_THROW(table.takeReserved(region), BlockMappingTable::RunOutOfReservedBlocks);
    EXPECT_THROW(table.takeReservedFromEnd(region), BlockMappingTable::RunOutOfReservedBlocks);
  }
  try {
    table.takeReserved(0);
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(), "Run out of reserved blocks");
  }
}

TEST(BlockMappingTable, SetBlockAtKeepsRegionAndUsedFlag) {
  BlockMappingTable table;
  ASSERT_TRUE(table.loadFromWords(packWords({{4, 5}, {1, 60}}), 1, 1));
  table.takeReserved(1);
  table.setBlockAt(1, 77);
  EXPECT_EQ(table.blockAt(1), 77u);
  EXPECT_EQ(table.reservedBlocks()[0].used, 1u);
  EXPECT_EQ(table.reservedBlocks()[0].region, 1u);
  table.setBlockAt(0, 9);
  EXPECT_EQ(table.blockAt(0), 9u);
  EXPECT_EQ(table.regionAt(0), 4u);
  EXPECT_THROW(table.setBlockAt(2, 1), std::out_of_range);
}

}  // namespace
}  // namespace hx
