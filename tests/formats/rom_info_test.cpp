#include "formats/rom_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/little_endian.h"

namespace hx {
namespace {

// An image of `length` 0xAA bytes with a record of `version` at `at`, names
// "abc-x1" at 16 and "def" at 144.
std::vector<uint8_t> imageWithRecord(size_t length, size_t at, const std::string& version) {
  std::vector<uint8_t> image(length, 0xAA);
  const std::string head = std::string(kRomInfoMarker) + version;
  std::memcpy(image.data() + at, head.data(), head.size());
  image[at + head.size()] = '_';
  if (at + 160 <= length) {
    std::memcpy(image.data() + at + 16, "abc-x1", 7);
    std::memcpy(image.data() + at + 144, "def", 4);
  }
  return image;
}

ImageBuffer bufferOf(const std::vector<uint8_t>& bytes) {
  return ImageBuffer{bytes.data(), static_cast<uint32_t>(bytes.size()), 0};
}

TEST(RomInfo, CopiesTheVersionsSizeAndKeepsTheRest) {
  struct Case {
    std::string version;
    uint32_t size;
    bool upperCased;
  };
  for (const Case& c : {Case{"4", 320, true}, Case{"5", 332, true}, Case{"6", 340, true}, Case{"3", 352, false},
                        Case{"7", 352, true}, Case{"12", 352, true}}) {
    SCOPED_TRACE(c.version);
    const auto image = imageWithRecord(4096, 100, c.version);
    std::vector<uint8_t> destination(kRomInfoRecordMax, 0x11);
    ASSERT_EQ(extractRomInfo(bufferOf(image), destination.data()), kRomInfoExtracted);
    EXPECT_EQ(0, std::memcmp(destination.data(), kRomInfoMarker.data(), kRomInfoMarker.size()));
    EXPECT_EQ(destination[c.size - 1], 0xAA);
    for (size_t i = c.size; i < destination.size(); ++i) ASSERT_EQ(destination[i], 0x11) << i;
    EXPECT_STREQ(reinterpret_cast<const char*>(destination.data() + 16), c.upperCased ? "ABC-X1" : "abc-x1");
    EXPECT_STREQ(reinterpret_cast<const char*>(destination.data() + 144), c.upperCased ? "DEF" : "def");
    EXPECT_EQ(romInfoSizeForVersion(romInfoVersion(destination)), c.size);
  }
}

TEST(RomInfo, ReportsShortImagesAndMissingMarkers) {
  uint8_t destination[kRomInfoRecordMax] = {};
  const auto shortImage = imageWithRecord(331, 0, "5");
  EXPECT_EQ(extractRomInfo(bufferOf(shortImage), destination), kRomInfoImageTooShort);
  EXPECT_EQ(extractRomInfo(ImageBuffer{}, destination), kRomInfoImageTooShort);
  const std::vector<uint8_t> noMarker(5000, 0);
  EXPECT_EQ(extractRomInfo(bufferOf(noMarker), destination), kRomInfoNoMarker);
}

TEST(RomInfo, MarkerSearchCoversTheFirstMebibyteOnly) {
  EXPECT_EQ(findRomInfoMarker(imageWithRecord(0x100400, 0xFFFFF, "5")), 0xFFFFFu);
  EXPECT_FALSE(findRomInfoMarker(imageWithRecord(0x100400, 0x100000, "5")));
  auto twoRecords = imageWithRecord(8192, 3000, "5");
  std::memcpy(twoRecords.data() + 700, kRomInfoMarker.data(), kRomInfoMarker.size());
  EXPECT_EQ(findRomInfoMarker(twoRecords), 700u) << "the first match wins";
  std::vector<uint8_t> cut(kRomInfoMarker.begin(), kRomInfoMarker.end() - 1);
  EXPECT_FALSE(findRomInfoMarker(cut)) << "a marker cut by the end is no match";
}

TEST(RomInfo, RecordNearTheEndCopiesOnlyWhatTheImageHolds) {
  const auto image = imageWithRecord(1000, 1000 - 20, "5");
  std::vector<uint8_t> destination(kRomInfoRecordMax, 0x11);
  ASSERT_EQ(extractRomInfo(bufferOf(image), destination.data()), kRomInfoExtracted);
  EXPECT_EQ(destination[19], 0xAA);
  EXPECT_EQ(destination[20], 0x11);
}

TEST(RomInfo, VersionDigitsStopAtTheEndOfTheRecord) {
  const std::string record = std::string(kRomInfoMarker) + "99";
  EXPECT_EQ(romInfoVersion(std::span(reinterpret_cast<const uint8_t*>(record.data()), record.size())), 99u);
  const std::string huge = std::string(kRomInfoMarker) + "99999999999999999999";
  EXPECT_EQ(romInfoVersion(std::span(reinterpret_cast<const uint8_t*>(huge.data()), huge.size())), 0xFFFFFFFFu);
}

TEST(RomInfo, ReadsAreaTableAndFormatTag) {
  std::vector<uint8_t> info(kRomInfoRecordMax, 0);
  storeLe16(info.data() + 210, 2);
  storeLe32(info.data() + 212 + 8, 0x1000);
  storeLe32(info.data() + 212 + 12, 0x2000);
  storeLe32(info.data() + 236, 0x01800000);
  storeLe32(info.data() + 240, 0x08000000);
  std::memcpy(info.data() + 332, "05200001", 8);
  EXPECT_EQ(romInfoAreaCount(info.data()), 2);
  EXPECT_EQ(romInfoArea(info.data(), 0)->start, 0x1000u);
  EXPECT_EQ(romInfoArea(info.data(), 0)->length, 0x2000u);
  EXPECT_EQ(romInfoArea(info.data(), 1)->start, romInfoFsAreaStart(info.data()));
  EXPECT_EQ(romInfoFsAreaLength(info.data()), 0x08000000u);
  EXPECT_TRUE(romInfoArea(info.data(), 7));
  EXPECT_FALSE(romInfoArea(info.data(), 8)) << "entry 8 would reach past the 352-byte buffer";
  EXPECT_TRUE(romInfoHasFsFormatTag(info.data()));
  info[339] = '2';
  EXPECT_FALSE(romInfoHasFsFormatTag(info.data()));
}

}  // namespace
}  // namespace hx
