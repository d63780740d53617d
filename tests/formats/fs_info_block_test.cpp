#include "formats/fs_info_block.h"

#include <gtest/gtest.h>

namespace hx {
namespace {

TEST(FsInfoBlock, RemapEntriesAndCountersStayInsideThePageData) {
  std::vector<uint8_t> data(2048, 0);
  EXPECT_TRUE(setRemapEntry(data, 3, 0x1234));
  EXPECT_EQ(data[6], 0x34);
  EXPECT_EQ(data[7], 0x12);
  EXPECT_EQ(remapEntry(data, 3), 0x1234);
  EXPECT_TRUE(remapEntry(data, 1023));
  EXPECT_FALSE(remapEntry(data, 1024));
  EXPECT_FALSE(setRemapEntry(data, 1024, 1));

  EXPECT_TRUE(setRegionCounter(data, 2048, 7, 0xBEEF));
  EXPECT_EQ(data[2046], 0xEF);
  EXPECT_TRUE(setRegionCounter(data, 2048, 0, 5));
  EXPECT_EQ(data[2032], 5);
  EXPECT_EQ(regionCounter(data, 2048, 7), 0xBEEF);
  EXPECT_FALSE(regionCounter(data, 2049, 7)) << "the last counter would reach past the data";
  EXPECT_FALSE(regionCounter(data, 2048, 8));
  EXPECT_FALSE(regionCounter(data, 15, 0));
  EXPECT_FALSE(setRegionCounter(data, 4096, 0, 1));
}

}  // namespace
}  // namespace hx
