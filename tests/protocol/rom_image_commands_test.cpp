// The agent commands of the ROM images: the NAND image list and the NFB write,
// exchange by exchange.
#include <gtest/gtest.h>

#include "event_recorder.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

TEST(ImageListRanges, RecordRangeThenOneEntryPerImage) {
  ScriptedLink link;
  link.reply({0x5A, 0x5A, 0x5A});
  ASSERT_EQ(sendImageListRanges(link, {0x100, 0x24B}, {0, 999}, {0x4000 + 1000, 0x4000 + 1999}), 0);
  EXPECT_EQ(link.sent, cat({{0xDD, 0xA5, 0xA5, 0xA5, 0x02, 0x02}, be32(0x100), be32(0x24B),
                            {0x01}, be32(0), be32(999), be32(0), be32(1),
                            {0x01}, be32(0x4000 + 1000), be32(0x4000 + 1999), be32(0), be32(1)}));
  EXPECT_EQ(link.unread(), 0u);
}

TEST(ImageListRanges, AWrongAnswerEndsTheListWith4007) {
  FastClock fast;
  for (int wrong = 0; wrong < 3; ++wrong) {
    ScriptedLink link;
    for (int i = 0; i < 3; ++i) link.reply({static_cast<uint8_t>(i == wrong ? 0x69 : 0x5A)});
    EXPECT_EQ(sendImageListRanges(link, {0, 331}, {0, 99}, {0x4064, 0x40C7}), kImageListFailed) << wrong;
    // Nothing is sent after the answer that was wrong.
    EXPECT_EQ(link.writes.size(), 2u + static_cast<size_t>(wrong)) << wrong;
  }
  ScriptedLink unwritable;
  unwritable.failWritesFrom(0);
  EXPECT_EQ(sendImageListRanges(unwritable, {0, 331}, {0, 99}, {0x4064, 0x40C7}), kImageListFailed);
}

TEST(NfbWrite, StartAnnouncesTheChunkSizeAfterTheAgentTakesTheCommand) {
  ScriptedLink link;
  link.reply({0x5A, 0x5A});
  ASSERT_EQ(startNfbWrite(link), 0);
  EXPECT_EQ(link.writes, (std::vector<std::vector<uint8_t>>{{0xDE}, be32(0x1000)}));

  FastClock fast;
  ScriptedLink refused;
  refused.reply({0xA5});
  EXPECT_EQ(startNfbWrite(refused), kNfbWriteFailed);
  EXPECT_EQ(refused.writes.size(), 1u) << "no chunk size after a wrong answer";
  ScriptedLink late;
  late.reply({0x5A, 0x00});
  EXPECT_EQ(startNfbWrite(late), kNfbWriteFailed);
}

TEST(NfbWrite, EachChunkGoesWithItsSumInOneWriteAndIsAnswered0x69) {
  const std::vector<uint8_t> big(4096, 0xFF), small{0x01, 0x02, 0x03};
  ScriptedLink link;
  link.reply({0x69, 0x69});
  NfbChunkSender chunks(link);
  ASSERT_EQ(chunks.send(big.data(), 4096), 0);
  ASSERT_EQ(chunks.send(small.data(), 3), 0);  // a shorter chunk after a longer one
  ASSERT_EQ(link.writes.size(), 2u);
  EXPECT_EQ(link.writes[0], cat({big, be16((4096u * 0xFF) & 0xFFFF)}));
  EXPECT_EQ(link.writes[1], (std::vector<uint8_t>{0x01, 0x02, 0x03, 0x00, 0x06}));

  FastClock fast;
  for (const uint8_t answer : {0x5A, 0xA5, 0x96}) {
    ScriptedLink wrong;
    wrong.reply({answer});
    NfbChunkSender sender(wrong);
    EXPECT_EQ(sender.send(small.data(), 3), kNfbWriteFailed) << int{answer};
  }
  ScriptedLink silent;
  NfbChunkSender quietSender(silent);
  EXPECT_EQ(quietSender.send(small.data(), 3), kNfbWriteFailed);
}

TEST(NfbWrite, ClosingExchanges) {
  const std::vector<uint8_t> image{0x10, 0x20, 0xF0};
  ScriptedLink link;
  link.reply({0x5A, 0x5A, 0x5A, 0x5A});
  ASSERT_EQ(readNfbImagesStored(link), 0);
  ASSERT_EQ(sendNfbImageCheck(link, image.data(), 3), 0);
  ASSERT_EQ(readNfbWriteDone(link), 0);
  EXPECT_EQ(link.sent, (std::vector<uint8_t>{0x5A, 0x01, 0x20}));
  EXPECT_EQ(link.unread(), 0u);

  ScriptedLink givenUp;
  giveUpNfbWrite(givenUp);
  EXPECT_EQ(givenUp.sent, (std::vector<uint8_t>{0xA5}));

  FastClock fast;
  ScriptedLink oneStored;  // both images must be stored: two answers
  oneStored.reply({0x5A, 0x69});
  EXPECT_EQ(readNfbImagesStored(oneStored), kNfbWriteFailed);
  ScriptedLink checkRefused;
  checkRefused.reply({0xA5});
  EXPECT_EQ(sendNfbImageCheck(checkRefused, image.data(), 3), kNfbWriteFailed);
  ScriptedLink silent;
  EXPECT_EQ(readNfbWriteDone(silent), kNfbWriteFailed);
}

}  // namespace
}  // namespace hx::test
