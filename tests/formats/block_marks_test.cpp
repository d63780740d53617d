#include "formats/block_marks.h"

#include <gtest/gtest.h>

#include <vector>

#include "formats/data_checksum.h"

namespace hx {
namespace {

TEST(BadBlockMarker, CountsAMarkerByteBadBelowSevenSetBits) {
  struct Case {
    uint32_t pageSize, spareSize;
    size_t offset;
    uint8_t value;
    bool bad;
  };
  const std::vector<Case> cases = {
      {512, 16, 517, 0xFE, false},        {512, 16, 517, 0xFC, true},
      {512, 16, 528 + 517, 0x00, true},   {512, 16, 516, 0x00, false},
      {2048, 64, 2048, 0x7F, false},      {2048, 64, 2049, 0xF0, true},
      {2048, 64, 2112 + 2048, 0xFC, true}, {2048, 64, 2112 + 2049, 0x00, true},
      {2048, 64, 2050, 0x00, false},      {4096, 64, 4096, 0x00, false},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> raw(64 * (c.pageSize + c.spareSize), 0xFF);
    raw[c.offset] = c.value;
    EXPECT_EQ(isBadBlockMarked(raw, c.pageSize, c.spareSize), c.bad)
        << c.pageSize << " offset " << c.offset << " value " << int(c.value);
  }
  EXPECT_FALSE(isBadBlockMarked(std::vector<uint8_t>(100, 0), 512, 16)) << "marker bytes past the end";
}

TEST(InfoBlockMark, LooksAtPageZeroSpareBytesTwoAndThree) {
  std::vector<uint8_t> raw(2 * 2112, 0xFF);
  EXPECT_FALSE(isInfoBlockMarked(raw, 2048));
  raw[2050] = 0x0F;
  raw[2051] = 0x0D;
  EXPECT_TRUE(isInfoBlockMarked(raw, 2048));
  EXPECT_FALSE(isInfoBlockMarked(std::span(raw).first(2051), 2048));
}

TEST(ProgrammedPages, ListsPagesWithAnySpareByteOtherThanFF) {
  std::vector<uint8_t> spare(4 * 16, 0xFF);
  EXPECT_TRUE(programmedPages(spare, 16, 4).empty());
  spare[16 + 15] = 0xFE;
  spare[3 * 16] = 0;
  EXPECT_EQ(programmedPages(spare, 16, 4), (std::vector<uint32_t>{1, 3}));
  EXPECT_EQ(programmedPages(spare, 16, 2), (std::vector<uint32_t>{1}));
  EXPECT_EQ(programmedPages(std::span(spare).first(40), 16, 4), (std::vector<uint32_t>{1}));
}

TEST(DataChecksum, XorsLittleEndianWords) {
  EXPECT_EQ(dataChecksum(std::vector<uint8_t>{1, 2, 3, 4}), 0x0602);
  EXPECT_EQ(dataChecksum(std::vector<uint8_t>{1, 2, 3, 4, 9}), 0x0602) << "a trailing odd byte is ignored";
  EXPECT_EQ(dataChecksum(std::vector<uint8_t>{}), 0);
}

}  // namespace
}  // namespace hx
