// The worked checksum examples of the protocol, from the phone's side.
#include <gtest/gtest.h>

#include <vector>

#include "hxphone/wire.h"

namespace hxphone {
namespace {

TEST(Wire, ByteSum16Examples) {
  EXPECT_EQ(byteSum16(std::vector<uint8_t>{0x7F}), 0x7F);                // a one-byte chunk
  EXPECT_EQ(byteSum16(std::vector<uint8_t>(300, 0xFF)), 10964);         // 300 x 255 mod 65536
  EXPECT_EQ(byteSum16(std::vector<uint8_t>(258, 0xFF)), (258 * 255) % 65536);  // wraps
}

TEST(Wire, WordXor16OfLittleEndianWords) {
  EXPECT_EQ(wordXor16(std::vector<uint8_t>{1, 2, 3, 4}), 0x0602);
  EXPECT_EQ(wordXor16(std::vector<uint8_t>{1, 2, 3}), 0x0201);  // a trailing odd byte is ignored
}

TEST(Wire, WordXor32WithSeedAndPaddedLastWord) {
  EXPECT_EQ(wordXor32(std::vector<uint8_t>{1, 0, 0, 0, 2, 0, 0, 0}, 0x10), 0x13u);
  EXPECT_EQ(wordXor32(std::vector<uint8_t>{1, 0, 0, 0, 0xAA}, 0), 0xABu);  // 0xAA padded with zeros
}

}  // namespace
}  // namespace hxphone
