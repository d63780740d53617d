#include "download/nfb_writer.h"

#include <gtest/gtest.h>

#include "event_recorder.h"
#include "protocol/agent_wire.h"
#include "scripted_link.h"
#include "log_capture.h"

namespace hx::test {
namespace {

std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(seed + i * 13);
  return v;
}

void scriptAgent(ScriptedLink& link, size_t chunks) {
  link.reply({0x5A, 0x5A});
  for (size_t i = 0; i < chunks; ++i) link.reply({0x69});
  link.reply({0x5A, 0x5A, 0x5A, 0x5A, 0x5A});
}

int writeQuietly(ScriptedLink& link, const ImageBuffer& primary, const ImageBuffer& secondary) {
  hxtest::LogCapture capture;
  return writeNfbImages(link, primary, secondary, quiet());
}

TEST(WriteNfbImages, ChunksSumsProgressAndFinalChecks) {
  const auto primary = pattern(10000, 1), secondary = pattern(300, 2);
  EventRecorder events(45);
  ScriptedLink link;
  scriptAgent(link, 4);
  hxtest::LogCapture capture;
  ASSERT_EQ(writeNfbImages(link, {primary.data(), 10000, 0}, {secondary.data(), 300, 0x4000}, events), 0);
  EXPECT_EQ(capture.text(), "...\n.\n");

  std::vector<uint8_t> expected = cat({{0xDE}, be32(0x1000)});
  for (const auto* image : {&primary, &secondary})
    for (size_t off = 0; off < image->size(); off += 4096) {
      const size_t n = std::min<size_t>(4096, image->size() - off);
      std::vector<uint8_t> chunk(image->begin() + off, image->begin() + off + n);
      expected = cat({expected, chunk, be16(byteSum16(chunk.data(), n))});
    }
  expected = cat({expected, {0x5A}, be16(byteSum16(primary.data(), primary.size())), {0x5A},
                  be16(byteSum16(secondary.data(), secondary.size()))});
  EXPECT_EQ(link.sent, expected);
  EXPECT_EQ(link.unread(), 0u);
  EXPECT_EQ(events.progress(), (std::vector<int>{0, 40, 81, 0, 100}));
  EXPECT_EQ(events.texts(kEventStep), (std::vector<std::string>{"Start Write NFB Image", "Send ROM Image",
                                                                 "Send Secondary ROM Image", "Write NFB Image Complete"}));
}

TEST(WriteNfbImages, LogHasOneDotPerChunkInLinesOfSixtyFour) {
  // 64 chunks make one line of dots: images at, around and beyond it.
  for (const size_t chunks : {63u, 64u, 65u, 129u}) {
    const auto image = pattern(chunks * 4096 - 1, 3);
    ScriptedLink link;
    scriptAgent(link, chunks + 1);
    hxtest::LogCapture capture;
    ASSERT_EQ(writeNfbImages(link, {image.data(), static_cast<uint32_t>(image.size()), 0}, {image.data(), 1, 0x4000},
                             quiet()),
              0)
        << chunks;
    std::string expected;
    for (size_t left = chunks; left > 0; left -= std::min<size_t>(left, 64))
      expected += std::string(std::min<size_t>(left, 64), '.') + "\n";
    EXPECT_EQ(capture.text(), expected + ".\n") << chunks;  // the secondary image's one chunk
  }
}

TEST(WriteNfbImages, ChunkSums) {
  const std::vector<uint8_t> one{0x7B}, ffs(300, 0xFF);
  ScriptedLink link;
  scriptAgent(link, 2);
  ASSERT_EQ(writeQuietly(link, {one.data(), 1, 0}, {ffs.data(), 300, 0x4000}), 0);
  EXPECT_EQ(link.writes[2], (std::vector<uint8_t>{0x7B, 0x00, 0x7B}));
  EXPECT_EQ(link.writes[3].size(), 302u);
  EXPECT_EQ(link.writes[3][300] << 8 | link.writes[3][301], 10964);
}

TEST(WriteNfbImages, EmptySecondaryImageIsGivenUp) {
  const auto primary = pattern(100, 1);
  ScriptedLink link;
  scriptAgent(link, 1);
  EXPECT_EQ(writeQuietly(link, {primary.data(), 100, 0}, {nullptr, 0, 0x4000}), kNfbWriteFailed);
  const auto tail = cat({{0x5A}, be16(byteSum16(primary.data(), 100)), {0xA5}});
  ASSERT_GE(link.sent.size(), tail.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), link.sent.end() - static_cast<long>(tail.size())));
  EXPECT_EQ(link.writes.size(), 2u + 1 + 2);  // command, chunk size, one chunk, primary check, 0xA5
}

TEST(WriteNfbImages, WrongAnswersFail) {
  FastClock fast;
  const auto image = pattern(100, 1);
  for (size_t wrongAt = 0; wrongAt < 8; ++wrongAt) {
    std::vector<uint8_t> answers = {0x5A, 0x5A, 0x69, 0x69, 0x5A, 0x5A, 0x5A, 0x5A};
    answers[wrongAt] ^= 0x01;
    ScriptedLink link;
    link.replyBytes(answers);
    link.reply({0x5A});
    EXPECT_EQ(writeQuietly(link, {image.data(), 100, 0}, {image.data(), 100, 0}), kNfbWriteFailed) << wrongAt;
  }
  ScriptedLink silent;
  EXPECT_EQ(writeQuietly(silent, {image.data(), 100, 0}, {image.data(), 100, 0}), kNfbWriteFailed);
}

}  // namespace
}  // namespace hx::test
