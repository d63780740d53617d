#include "formats/bootloader_info.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "formats/little_endian.h"

namespace hx {
namespace {

// A bootloader image of `length` bytes that ends in a record of `recordLength`
// bytes (marker, version text, then 0xA0, 0xA1, ...) and its length word.
std::vector<uint8_t> imageWithRecord(size_t length, uint32_t recordLength, const std::string& version) {
  std::vector<uint8_t> image(length, 0x33);
  uint8_t* record = image.data() + length - 4 - recordLength;
  for (uint32_t i = 0; i < recordLength; ++i) record[i] = static_cast<uint8_t>(0xA0 + i);
  const std::string head = std::string(kBootloaderInfoMarker) + version;
  std::memcpy(record, head.data(), std::min<size_t>(head.size(), recordLength));
  if (head.size() < recordLength) record[head.size()] = 0;
  storeLe32(image.data() + length - 4, recordLength);
  return image;
}

ImageBuffer bufferOf(const std::vector<uint8_t>& bytes) {
  return ImageBuffer{bytes.data(), static_cast<uint32_t>(bytes.size()), 0};
}

TEST(BootloaderInfo, CopiesTheVersionsSizeAndZeroFillsTheRest) {
  struct Case {
    std::string version;
    uint32_t recordLength, copied;
  };
  for (const Case& c : {Case{"1", 108, 108}, Case{"2", 132, 132}, Case{"3", 136, 136}, Case{"3", 200, 136},
                        Case{"1", 140, 108}}) {
    SCOPED_TRACE(c.version + " / " + std::to_string(c.recordLength));
    const auto image = imageWithRecord(40000, c.recordLength, c.version);
    std::vector<uint8_t> info(kBootloaderInfoBufferSize, 0x77);
    ASSERT_EQ(extractBootloaderInfo(bufferOf(image), info.data()), kBootloaderInfoExtracted);
    const uint8_t* record = image.data() + 40000 - 4 - c.recordLength;
    EXPECT_EQ(0, std::memcmp(info.data(), record, c.copied));
    for (size_t i = c.copied; i < info.size(); ++i) ASSERT_EQ(info[i], 0) << i;
    EXPECT_EQ(bootloaderInfoVersion(info.data()), std::stoul(c.version));
  }
}

TEST(BootloaderInfo, VersionOneAtTheWorkedOffset) {
  const auto image = imageWithRecord(40000, 108, "1");
  EXPECT_EQ(0, std::memcmp(image.data() + 39888, kBootloaderInfoMarker.data(), kBootloaderInfoMarker.size()));
}

TEST(BootloaderInfo, UnknownVersionGivesZerosAndSuccess) {
  for (const std::string version : {"4", "0", "x"}) {
    const auto image = imageWithRecord(40000, 108, version);
    std::vector<uint8_t> info(kBootloaderInfoBufferSize, 0x77);
    ASSERT_EQ(extractBootloaderInfo(bufferOf(image), info.data()), kBootloaderInfoExtracted) << version;
    EXPECT_EQ(std::count(info.begin(), info.end(), 0), 136) << version;
  }
}

TEST(BootloaderInfo, FailuresLeaveTheDestinationUntouched) {
  struct Case {
    const char* name;
    std::vector<uint8_t> image;
    int result;
  };
  auto noMarker = imageWithRecord(40000, 136, "3");
  noMarker[40000 - 4 - 136] = 'X';
  auto lengthTooLarge = imageWithRecord(200, 136, "3");
  storeLe32(lengthTooLarge.data() + 196, 197);
  const std::vector<Case> cases = {
      {"version 2 in 120 bytes", imageWithRecord(40000, 120, "2"), kBootloaderInfoTooShort},
      {"version 1 in 107 bytes", imageWithRecord(40000, 107, "1"), kBootloaderInfoTooShort},
      {"version 3 in 135 bytes", imageWithRecord(40000, 135, "3"), kBootloaderInfoTooShort},
      {"no marker", noMarker, kBootloaderInfoMissing},
      {"length word past the image", lengthTooLarge, kBootloaderInfoMissing},
      {"record shorter than the marker", imageWithRecord(100, 10, ""), kBootloaderInfoMissing},
      {"image of 3 bytes", std::vector<uint8_t>{1, 2, 3}, kBootloaderInfoMissing},
      {"empty image", std::vector<uint8_t>{}, kBootloaderInfoMissing},
  };
  for (const Case& c : cases) {
    std::vector<uint8_t> info(kBootloaderInfoBufferSize, 0x77);
    EXPECT_EQ(extractBootloaderInfo(bufferOf(c.image), info.data()), c.result) << c.name;
    EXPECT_EQ(std::count(info.begin(), info.end(), 0x77), 136) << c.name;
  }
  uint8_t info[kBootloaderInfoBufferSize];
  EXPECT_EQ(extractBootloaderInfo(ImageBuffer{}, info), kBootloaderInfoMissing);
  auto maxLength = imageWithRecord(200, 136, "3");
  storeLe32(maxLength.data() + 196, 0xFFFFFFFF);
  EXPECT_EQ(extractBootloaderInfo(bufferOf(maxLength), info), kBootloaderInfoMissing) << "no overflow";
}

}  // namespace
}  // namespace hx
