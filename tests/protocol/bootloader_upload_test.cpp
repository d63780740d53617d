#include "protocol/bootloader_upload.h"

#include <gtest/gtest.h>

#include "event_recorder.h"
#include "protocol/agent_wire.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

std::vector<uint8_t> infoWith(uint32_t seed) {
  std::vector<uint8_t> info(136, 0);
  info[88] = 0xB1, info[89] = 0xB2, info[90] = 0xB3, info[91] = 0xB4;
  for (int i = 0; i < 4; ++i) info[92 + i] = static_cast<uint8_t>(seed >> (8 * i));
  info[96] = 0x78, info[97] = 0x56, info[98] = 0x34, info[99] = 0x12;
  return info;
}

TEST(BootloaderWordChecksum, SeedXorWordsWithZeroPaddedTail) {
  const uint8_t words[] = {1, 0, 0, 0, 2, 0, 0, 0};
  EXPECT_EQ(bootloaderWordChecksum({words, 8, 0}, 0x10), 0x13u);
  const uint8_t tail[] = {1, 0, 0, 0, 0xAA, 0xBB};
  EXPECT_EQ(bootloaderWordChecksum({tail, 6, 0}, 0), 0x0000BBAAu ^ 1u);
  // Only the image's own bytes are read: a 5-byte view of a longer buffer.
  const uint8_t longer[] = {0, 0, 0, 0, 0x11, 0x22, 0x33, 0x44};
  EXPECT_EQ(bootloaderWordChecksum({longer, 5, 0}, 0), 0x11u);
}

void scriptAgent(ScriptedLink& link, size_t extPackets, size_t blPackets) {
  link.reply({0x5A});  // command taken
  link.reply({0x5A});  // header taken
  for (size_t i = 0; i < extPackets + blPackets; ++i) link.reply({0x69});
  link.reply({0x5A});
}

TEST(WriteBootloader, HeaderPacketsAndProgress) {
  std::vector<uint8_t> bl(8192), ext(5000);
  for (size_t i = 0; i < bl.size(); ++i) bl[i] = static_cast<uint8_t>(i * 7);
  for (size_t i = 0; i < ext.size(); ++i) ext[i] = static_cast<uint8_t>(i * 3);
  const auto info = infoWith(0x10);
  const ImageBuffer blImage{bl.data(), 8192, 0}, extImage{ext.data(), 5000, 0};
  EventRecorder events(41);
  ScriptedLink link;
  scriptAgent(link, 2, 2);
  ASSERT_EQ(writeBootloader(link, blImage, extImage, info.data(), events), 0);

  std::vector<uint8_t> expected =
      cat({{0xDC}, be32(4096), {0xB1, 0xB2, 0xB3, 0xB4}, be32(8192), be32(0x12345678),
           be32(bootloaderWordChecksum(blImage, 0x10)), std::vector<uint8_t>(32, 0), {0x5A}, be32(5000),
           be32(bootloaderWordChecksum(extImage, 0x10))});
  for (const auto* image : {&ext, &bl})
    for (size_t off = 0; off < image->size(); off += 4096) {
      const size_t n = std::min<size_t>(4096, image->size() - off);
      std::vector<uint8_t> packet(image->begin() + off, image->begin() + off + n);
      expected = cat({expected, packet, be16(byteSum16(packet.data(), n))});
    }
  EXPECT_EQ(link.sent, expected);
  EXPECT_EQ(events.progress(), (std::vector<int>{81, 100, 50, 100, 100}));
  EXPECT_EQ(events.texts(kEventStep),
            (std::vector<std::string>{"Start Write Bootloader", "Send ext Bootloader", "Write Bootloader Complete"}));
}

TEST(WriteBootloader, WrongPacketAnswers) {
  std::vector<uint8_t> bl(100, 1), ext(100, 2);
  const auto info = infoWith(0);
  const ImageBuffer blImage{bl.data(), 100, 0}, extImage{ext.data(), 100, 0};
  {
    ScriptedLink link;  // ext packet answered 0x00: four more bytes read, then 4014
    link.reply({0x5A, 0x5A, 0x00, 1, 2, 3, 4, 0x69});
    EXPECT_EQ(writeBootloader(link, blImage, extImage, info.data(), quiet()), kBootloaderUploadFailed);
    EXPECT_EQ(link.unread(), 1u);
  }
  {
    ScriptedLink link;  // bootloader packet answered 0x00: nothing more read
    link.reply({0x5A, 0x5A, 0x69, 0x00, 1, 2, 3, 4});
    EXPECT_EQ(writeBootloader(link, blImage, extImage, info.data(), quiet()), kBootloaderUploadFailed);
    EXPECT_EQ(link.unread(), 4u);
  }
  {
    ScriptedLink link;  // command refused
    link.reply({0x00});
    EXPECT_EQ(writeBootloader(link, blImage, extImage, info.data(), quiet()), kBootloaderUploadFailed);
  }
}

TEST(WriteBootloader, SendFailuresBy4008Rule) {
  std::vector<uint8_t> bl(100, 1), ext(100, 2);
  const auto info = infoWith(0);
  const ImageBuffer blImage{bl.data(), 100, 0}, extImage{ext.data(), 100, 0};
  // Writes: 0 command, 1 header, 2 zeros, 3 the 0x5A, 4 ext header, 5/6 ext packet/sum, 7/8 bootloader packet/sum.
  struct Case {
    size_t failingWrite;
    int expected;
  };
  for (const Case& c : {Case{3, kBootloaderSendFailed}, Case{6, kBootloaderUploadFailed},
                        Case{7, kBootloaderUploadFailed}, Case{8, kBootloaderSendFailed}}) {
    ScriptedLink link;
    scriptAgent(link, 1, 1);
    link.failWritesFrom(c.failingWrite);
    EXPECT_EQ(writeBootloader(link, blImage, extImage, info.data(), quiet()), c.expected) << c.failingWrite;
  }
}

}  // namespace
}  // namespace hx::test
