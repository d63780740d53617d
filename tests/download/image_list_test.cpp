#include "download/image_list.h"

#include <gtest/gtest.h>

#include <cstring>

#include "event_recorder.h"
#include "fake_nand_agent.h"
#include "fs_image_builder.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

std::vector<uint8_t> romImage(size_t length, size_t markerAt, const char* version) {
  std::vector<uint8_t> image(length, 0x00);
  std::memcpy(image.data() + markerAt, "MTK_ROMINFO_v", 13);
  std::memcpy(image.data() + markerAt + 13, version, std::strlen(version));
  return image;
}

TEST(SendNandImageList, RecordRangeAndImageEntries) {
  const auto primary = romImage(50000, 0x1234, "05");
  const std::vector<uint8_t> secondary(7000, 0x44);
  EventRecorder events(46);
  ScriptedLink link;
  link.reply({0x5A, 0x5A, 0x5A});
  ASSERT_EQ(sendNandImageList(link, {primary.data(), 50000, 0}, {secondary.data(), 7000, 0x4000}, events), 0);
  const uint32_t secondStart = 50000 + 0x4000;
  EXPECT_EQ(link.sent, cat({{0xDD, 0xA5, 0xA5, 0xA5, 0x02, 0x02}, be32(0x1234), be32(0x1234 + 331),
                            {0x01}, be32(0), be32(49999), be32(0), be32(1),
                            {0x01}, be32(secondStart), be32(secondStart + 6999), be32(0), be32(1)}));
  EXPECT_EQ(events.events, (std::vector<RecordedEvent>{{46, 5, 0, "Start Send NAND image list"},
                                                       {46, 3, 100, ""},
                                                       {46, 5, 100, "Send NAND image list complete"}}));
}

TEST(SendNandImageList, NoMarkerFailsBeforeAnythingIsSent) {
  std::vector<uint8_t> primary(0x100000 + 100, 0);
  std::memcpy(primary.data() + 0x100000, "MTK_ROMINFO_v05", 15);  // too late
  ScriptedLink link;
  EXPECT_EQ(sendNandImageList(link, {primary.data(), static_cast<uint32_t>(primary.size()), 0}, {}, quiet()),
            kImageListFailed);
  EXPECT_TRUE(link.sent.empty());
  EXPECT_EQ(sendNandImageList(link, {nullptr, 0, 0}, {}, quiet()), kImageListFailed);
  EXPECT_TRUE(link.sent.empty());
}

TEST(SendNandImageList, WrongAcknowledgementsFail) {
  FastClock fast;
  const auto primary = romImage(1000, 0, "06");
  for (int wrong = 0; wrong < 3; ++wrong) {
    ScriptedLink link;
    for (int i = 0; i < 3; ++i) link.reply({static_cast<uint8_t>(i == wrong ? 0x00 : 0x5A)});
    EXPECT_EQ(sendNandImageList(link, {primary.data(), 1000, 0}, {primary.data(), 1000, 0x4000}, quiet()), kImageListFailed);
  }
}

struct RomInfoPhone {
  RomInfoPhone() : nand(512, 32, 64) {}
  void put(uint32_t block, size_t offset, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> data = nand.dataOf(block);
    std::copy(bytes.begin(), bytes.end(), data.begin() + static_cast<long>(offset));
    auto& raw = nand.raw(block);
    for (uint32_t p = 0; p < 32; ++p) std::copy(data.begin() + p * 512, data.begin() + (p + 1) * 512, raw.begin() + p * 528);
  }
  FakeNandAgent nand;
};

TEST(ReadPhoneRomInfo, SearchesBlocksTwoToNineOnly) {
  RomInfoPhone phone;
  const auto record = romInfoRecord(100 * 16384, 50 * 16384);
  phone.put(5, 100, record);
  phone.put(1, 0, record);
  uint8_t dest[352];
  ASSERT_TRUE(readPhoneRomInfo(phone.nand, 16384, dest));
  EXPECT_EQ(std::vector<uint8_t>(dest, dest + 352), record);
  EXPECT_EQ(phone.nand.log, (std::vector<std::string>{"read1 2", "read1 3", "read1 4", "read1 5"}));

  RomInfoPhone late;
  late.put(10, 0, record);
  EXPECT_FALSE(readPhoneRomInfo(late.nand, 16384, dest));
  EXPECT_EQ(late.nand.log.size(), 8u);
  EXPECT_EQ(late.nand.log.back(), "read1 9");
}

TEST(ReadPhoneRomInfo, MarkerNearTheEndOfTheBlock) {
  const auto record = romInfoRecord(0, 0);
  uint8_t dest[352];
  RomInfoPhone cut;  // marker begins in the last 12 bytes: not matched
  cut.put(2, 16384 - 12, std::vector<uint8_t>(record.begin(), record.begin() + 12));
  EXPECT_FALSE(readPhoneRomInfo(cut.nand, 16384, dest));

  RomInfoPhone near;  // whole marker, 100 bytes left: only those are copied
  near.put(2, 16384 - 100, std::vector<uint8_t>(record.begin(), record.begin() + 100));
  std::memset(dest, 0xEE, sizeof dest);
  ASSERT_TRUE(readPhoneRomInfo(near.nand, 16384, dest));
  EXPECT_TRUE(std::equal(record.begin(), record.begin() + 100, dest));
  for (size_t i = 100; i < 352; ++i) EXPECT_EQ(dest[i], 0) << i;
}

TEST(ReadPhoneRomInfo, ReadErrorEndsTheSearch) {
  RomInfoPhone phone;
  phone.put(4, 0, romInfoRecord(0, 0));
  phone.nand.readFailures = 2;
  uint8_t dest[352];
  EXPECT_FALSE(readPhoneRomInfo(phone.nand, 16384, dest));
  EXPECT_EQ(phone.nand.log.size(), 2u);
}

}  // namespace
}  // namespace hx::test
