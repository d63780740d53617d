#include <gtest/gtest.h>

#include <numeric>

#include "event_recorder.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

std::vector<uint8_t> counting(size_t n, uint8_t start = 1) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), start);
  return v;
}

TEST(SendPackets, LastPacketIsPaddedWithZeros) {
  const auto bytes = counting(10);
  ScriptedLink link;
  link.reply({0x69, 0x69, 0x69});
  EXPECT_EQ(sendPackets(link, bytes.data(), 10, 4, false), 0);
  EXPECT_EQ(link.sent, (std::vector<uint8_t>{0x5A, 1, 2, 3, 4, 0x5A, 5, 6, 7, 8, 0x5A, 9, 10, 0, 0}));
}

TEST(SendPackets, PacketSumFollowsWhenAsked) {
  const auto bytes = counting(3, 0xFE);  // FE FF 00
  ScriptedLink link;
  link.reply({0x69});
  EXPECT_EQ(sendPackets(link, bytes.data(), 3, 3, true), 0);
  EXPECT_EQ(link.sent, (std::vector<uint8_t>{0x5A, 0xFE, 0xFF, 0x00, 0x01, 0xFD}));
}

TEST(SendPackets, ResendsUntilTheAgentTakesThePacket) {
  const auto bytes = counting(4);
  ScriptedLink link;
  link.reply({0x00, 0x5A, 0x13, 0x69});
  EXPECT_EQ(sendPackets(link, bytes.data(), 4, 4, false), 0);
  EXPECT_EQ(link.writes.size(), 4u);
  for (const auto& w : link.writes) EXPECT_EQ(w, (std::vector<uint8_t>{0x5A, 1, 2, 3, 4}));
}

TEST(SendPackets, RefusalWithBadBlockStatusIs3041AnythingElseFails) {
  const auto bytes = counting(4);
  struct Case {
    std::vector<uint8_t> answer;
    int expected;
  };
  const std::vector<Case> cases = {
      {cat({{0xA5}, be32(3041)}), kBlockBad},
      {cat({{0x96}, be32(3041)}), kBlockBad},
      {cat({{0xA5}, be32(0)}), kPacketFailed},  // never a silent success
      {cat({{0x96}, be32(3040)}), kPacketFailed},
      {{0xA5}, kPacketFailed},                  // status missing
  };
  FastClock fast;
  for (const Case& c : cases) {
    ScriptedLink link;
    link.replyBytes(c.answer);
    EXPECT_EQ(sendPackets(link, bytes.data(), 4, 4, false), c.expected);
    EXPECT_EQ(link.writes.size(), 1u);
  }
}

TEST(SendPackets, SilenceReadErrorAndFailedWritesEnd) {
  FastClock fast;
  const auto bytes = counting(4);
  ScriptedLink silent;
  EXPECT_EQ(sendPackets(silent, bytes.data(), 4, 4, false), kPacketFailed);
  ScriptedLink babbling;  // answers every packet with a wrong byte, for ever
  babbling.onWrite = [](ScriptedLink& l, const uint8_t*, size_t) { l.reply({0x00}); };
  EXPECT_EQ(sendPackets(babbling, bytes.data(), 4, 4, false), kPacketFailed);
  ScriptedLink gone;
  gone.readError();
  gone.reply({0x69});
  EXPECT_EQ(sendPackets(gone, bytes.data(), 4, 4, false), kPacketFailed);
  ScriptedLink unwritable;
  unwritable.failWritesFrom(0);
  EXPECT_EQ(sendPackets(unwritable, bytes.data(), 4, 4, false), kPacketFailed);
  ScriptedLink padding;
  padding.failWritesFrom(1);
  EXPECT_EQ(sendPackets(padding, bytes.data(), 3, 4, false), kPacketPaddingFailed);
  ScriptedLink sum;
  sum.failWritesFrom(1);
  EXPECT_EQ(sendPackets(sum, bytes.data(), 4, 4, true), kPacketSumFailed);
}

// A block of pages whose data bytes count up and whose spare bytes are 0xS0 + page.
struct TestBlock {
  TestBlock(uint32_t pageSize, uint32_t pages)
      : data(counting(static_cast<size_t>(pageSize) * pages)), spare((pageSize == 512 ? 16 : 64) * pages) {
    for (size_t i = 0; i < spare.size(); ++i) spare[i] = static_cast<uint8_t>(0xC0 + i / (pageSize == 512 ? 16 : 64));
    pages_ = {pageSize, pageSize == 512 ? 16u : 64u, pages, data.data(), spare.data()};
  }
  std::vector<uint8_t> data, spare;
  BlockPages pages_;
  std::vector<uint8_t> raw(uint32_t first, uint32_t count) const {
    std::vector<uint8_t> out;
    for (uint32_t p = first; p < first + count; ++p) {
      out.insert(out.end(), data.begin() + p * pages_.pageSize, data.begin() + (p + 1) * pages_.pageSize);
      out.insert(out.end(), spare.begin() + p * pages_.spareSize, spare.begin() + (p + 1) * pages_.spareSize);
    }
    return out;
  }
};

TEST(WriteBlock, InterleavesPagesIntoPacketsOf16896Bytes) {
  for (uint32_t pageSize : {512u, 2048u}) {
    const uint32_t pages = pageSize == 512 ? 32 : 64;
    const TestBlock block(pageSize, pages);
    const uint32_t packets = pageSize == 512 ? 1 : 8;
    ScriptedLink link;
    link.reply({0x5A});
    for (uint32_t i = 0; i < packets; ++i) link.reply({0x69});
    link.replyU16(0xBEEF);
    EXPECT_EQ(writeBlock(link, 300, block.pages_, 0xBEEF, quiet()), 0);
    const auto header = cat({{0xBD}, be32(300), be32(pageSize), be32(pageSize == 512 ? 16 : 64), be32(pages)});
    ASSERT_EQ(link.writes.size(), 1u + packets);
    EXPECT_EQ(link.writes[0], header);
    const uint32_t perPacket = pages / packets;
    for (uint32_t i = 0; i < packets; ++i) {
      const auto expected = cat({{0x5A}, block.raw(i * perPacket, perPacket)});
      ASSERT_EQ(link.writes[1 + i].size(), 1u + 16896);
      EXPECT_EQ(link.writes[1 + i], expected) << pageSize << " packet " << i;
    }
  }
}

TEST(WriteBlock, ResultCodes) {
  FastClock fast;
  const TestBlock block(512, 32);
  struct Case {
    std::vector<uint8_t> phone;
    int expected;
  };
  const std::vector<Case> cases = {
      {cat({{0x5A, 0x69}, be16(0x1234)}), kBlockChecksumDiffers},
      {cat({{0xA5}, be32(3041)}), kBlockBad},              // header refused: bad block
      {cat({{0x00}, be32(3041)}), kBlockCommandFailed},    // other answer, status dropped
      {cat({{0xA5}, be32(7)}), kBlockCommandFailed},
      {cat({{0x5A, 0xA5}, be32(3041)}), kBlockBad},        // failed while programmed
      {cat({{0x5A, 0x96}, be32(3041)}), kBlockBad},
      {cat({{0x5A, 0x96}, be32(12)}), kBlockPacketFailed}, // never a silent success
      {{0x5A}, kBlockPacketFailed},
  };
  for (const Case& c : cases) {
    ScriptedLink link;
    link.replyBytes(c.phone);
    EXPECT_EQ(writeBlock(link, 7, block.pages_, 0xBEEF, quiet()), c.expected);
  }
}

// A block the packets cannot carry is refused before its command header: a
// command begun and then abandoned would leave the agent waiting mid-command.
TEST(BlockWrites, WhatThePacketsCannotCarryIsRefusedBeforeTheHeader) {
  const TestBlock large(2048, 64);
  const TestBlock small(512, 32);
  struct Case {
    const char* what;
    BlockPages pages;
    std::vector<uint32_t> pageIndexes;  // what write-pages is asked to send
    bool wholeBlockRefused;             // write-block is refused too
  };
  const auto with = [](BlockPages pages, auto change) {
    change(pages);
    return pages;
  };
  const std::vector<Case> cases = {
      {"1024-byte pages", with(small.pages_, [](BlockPages& p) { p.pageSize = 1024; }), {0}, true},
      {"2048-byte pages, 4 per block (8 KiB blocks)", with(large.pages_, [](BlockPages& p) { p.pagesPerBlock = 4; }),
       {0}, true},
      {"512-byte pages, 16 per block", with(small.pages_, [](BlockPages& p) { p.pagesPerBlock = 16; }), {0}, true},
      {"512-byte pages with 64 spare bytes", with(small.pages_, [](BlockPages& p) { p.spareSize = 64; }), {0}, true},
      {"no page data", with(small.pages_, [](BlockPages& p) { p.pageData = nullptr; }), {0}, true},
      {"a page index outside the block", small.pages_, {2, 32}, false},
  };
  for (const Case& c : cases) {
    if (c.wholeBlockRefused) {
      ScriptedLink link;
      link.reply({0x5A});
      EXPECT_EQ(writeBlock(link, 7, c.pages, 0, quiet()), kBlockCommandFailed) << c.what;
      EXPECT_TRUE(link.sent.empty()) << c.what;
    }
    ScriptedLink link;
    link.reply({0x5A});
    EXPECT_EQ(writePages(link, 7, c.pageIndexes.data(), static_cast<uint32_t>(c.pageIndexes.size()), c.pages,
                         quiet()),
              kBlockCommandFailed)
        << c.what;
    EXPECT_TRUE(link.sent.empty()) << c.what;
  }
}

TEST(WritePages, SendsEachListedPageWithItsIndex) {
  const TestBlock block(2048, 64);
  const uint32_t indexes[] = {0, 5, 63};
  ScriptedLink link;
  link.reply({0x5A});
  for (int i = 0; i < 3; ++i) {
    link.reply({0x69});
    link.replyU16(0x1111);  // the agent's page sum, not compared
  }
  EXPECT_EQ(writePages(link, 9, indexes, 3, block.pages_, quiet()), 0);
  std::vector<uint8_t> expected = cat({{0xC0}, be32(9), be32(3), be32(2048), be32(64), be32(64)});
  for (uint32_t k : indexes) expected = cat({expected, be32(k), {0x5A}, block.raw(k, 1), {0x5A}});
  EXPECT_EQ(link.sent, expected);
}

TEST(WritePages, ZeroCountEndsAfterTheHeaderAndBadBlocksAre3041) {
  FastClock fast;
  const TestBlock block(512, 32);
  ScriptedLink empty;
  empty.reply({0x5A});
  EXPECT_EQ(writePages(empty, 9, nullptr, 0, block.pages_, quiet()), 0);
  EXPECT_EQ(empty.writes.size(), 1u);

  const uint32_t one[] = {2};
  ScriptedLink bad;
  bad.replyBytes(cat({{0x5A, 0xA5}, be32(3041)}));
  EXPECT_EQ(writePages(bad, 9, one, 1, block.pages_, quiet()), kBlockBad);
  ScriptedLink refused;
  refused.replyBytes(cat({{0xA5}, be32(3041)}));
  EXPECT_EQ(writePages(refused, 9, one, 1, block.pages_, quiet()), kBlockBad);
}

TEST(WritePages, PageWhosePacketFailedIsStillClosedWithItsSumAndAcknowledgement) {
  FastClock fast;
  const TestBlock block(512, 32);
  const uint32_t pages[] = {2, 3};
  const auto header = cat({{0xC0}, be32(9), be32(2), be32(512), be32(16), be32(32)});
  const auto packet = cat({{0x5A}, block.raw(2, 1)});
  // The agent gives up the packet with a status other than a bad block, then
  // sends its page sum as after any page.
  ScriptedLink link;
  link.replyBytes(cat({{0x5A, 0xA5}, be32(7), be16(0x1234)}));
  EXPECT_EQ(writePages(link, 9, pages, 2, block.pages_, quiet()), kBlockPacketFailed);
  EXPECT_EQ(link.sent, cat({header, be32(2), packet, {0x5A}}));
  // A phone that sends no page sum is not waited for without end, and gets no 0x5A.
  ScriptedLink silent;
  silent.replyBytes(cat({{0x5A, 0xA5}, be32(7)}));
  EXPECT_EQ(writePages(silent, 9, pages, 2, block.pages_, quiet()), kBlockPacketFailed);
  EXPECT_EQ(silent.sent, cat({header, be32(2), packet}));
}

void scriptReadBack(ScriptedLink& link, uint32_t a1, uint32_t a2, uint32_t a3, const std::vector<uint8_t>& data,
                    size_t chunk, int corruptFirst = 0) {
  link.replyBytes(cat({{0x5A}, be32(a1), be32(a2), be32(a3), be32(static_cast<uint32_t>(data.size()))}));
  int corrupt = corruptFirst;
  for (size_t off = 0; off < data.size();) {
    const size_t n = std::min(chunk, data.size() - off);
    std::vector<uint8_t> piece(data.begin() + off, data.begin() + off + n);
    uint16_t sum = byteSum16(piece.data(), n);
    if (corrupt > 0) {
      --corrupt;
      sum ^= 1;
    } else {
      off += n;
    }
    link.replyBytes(piece);
    link.replyU16(sum);
  }
}

TEST(ReadBack, ChunkCountFollowsThePageGeometry) {
  struct Case {
    uint32_t a1, a2, n;
  };
  for (const Case& c : {Case{2048, 64, 2}, Case{512, 16, 8}}) {
    const auto data = counting(8192);
    ScriptedLink link;
    scriptReadBack(link, c.a1, c.a2, c.a1, data, c.n * c.a1);
    std::vector<uint8_t> dest(8192);
    EXPECT_EQ(readBack(link, 0x20000, 0x2000, kReadBackDataOnly, dest.data(), dest.size()), 0);
    EXPECT_EQ(dest, data);
    const auto head = cat({{0xDF, 0x01}, be32(0x20000), be32(0x2000), be32(0), be32(c.n)});
    EXPECT_TRUE(std::equal(head.begin(), head.end(), link.sent.begin())) << c.a1;
    const size_t chunks = 8192 / (c.n * c.a1);
    EXPECT_EQ(link.sent.size(), head.size() + chunks);  // one 0x5A per chunk
  }
}

TEST(ReadBack, UnalignedRequestsAreRefusedBeforeAnythingIsSent) {
  uint8_t dest[0x1800];
  ScriptedLink link;
  EXPECT_EQ(readBack(link, 0x1000, 0x1800, 1, dest, sizeof dest), kReadBackLengthUnaligned);
  EXPECT_EQ(readBack(link, 0x100, 0x1000, 1, dest, sizeof dest), kReadBackAddressUnaligned);
  EXPECT_EQ(readBack(link, 0x1000, 0x10, 1, dest, sizeof dest), kReadBackLengthUnaligned);
  EXPECT_TRUE(link.sent.empty());
}

TEST(ReadBack, BadChunksAreAskedForAgainWithinABudgetOfTen) {
  const auto data = counting(4096);
  ScriptedLink ok;
  scriptReadBack(ok, 2048, 64, 2048, data, 4096, 10);
  std::vector<uint8_t> dest(4096);
  EXPECT_EQ(readBack(ok, 0, 4096, 1, dest.data(), dest.size()), 0);
  EXPECT_EQ(dest, data);
  EXPECT_EQ(std::count(ok.sent.begin() + 18, ok.sent.end(), 0x69), 10);

  ScriptedLink exhausted;
  scriptReadBack(exhausted, 2048, 64, 2048, data, 4096, 11);
  EXPECT_EQ(readBack(exhausted, 0, 4096, 1, dest.data(), dest.size()), kReadBackFailed);
  EXPECT_EQ(exhausted.sent.back(), 0xA5);
  EXPECT_EQ(std::count(exhausted.sent.begin() + 18, exhausted.sent.end(), 0x69), 10);
}

TEST(ReadBack, AnnouncementsThatDoNotFitAreRefused) {
  FastClock fast;
  std::vector<uint8_t> dest(4096);
  ScriptedLink tooMuch;  // announces more than the destination holds
  tooMuch.replyBytes(cat({{0x5A}, be32(2048), be32(64), be32(2048), be32(8192)}));
  EXPECT_EQ(readBack(tooMuch, 0, 4096, 1, dest.data(), dest.size()), kReadBackFailed);
  ScriptedLink zeroUnit;
  zeroUnit.replyBytes(cat({{0x5A}, be32(0), be32(0), be32(2048), be32(2048)}));
  EXPECT_EQ(readBack(zeroUnit, 0, 4096, 1, dest.data(), dest.size()), kReadBackFailed);
  ScriptedLink bigUnit;  // a unit larger than a page with its spare: one read would wait for minutes
  bigUnit.replyBytes(cat({{0x5A}, be32(2048), be32(64), be32(0x00FF0840), be32(4096)}));
  EXPECT_EQ(readBack(bigUnit, 0, 4096, 1, dest.data(), dest.size()), kReadBackFailed);
  EXPECT_EQ(bigUnit.sent.size(), 14u) << "n was answered to a unit that cannot be";
  ScriptedLink empty;
  empty.replyBytes(cat({{0x5A}, be32(2048), be32(64), be32(2048), be32(0)}));
  EXPECT_EQ(readBack(empty, 0, 4096, 1, dest.data(), dest.size()), 0);
  ScriptedLink gone;
  gone.replyBytes(cat({{0x5A}, be32(2048), be32(64), be32(2048), be32(2048), {1, 2, 3}}));
  gone.hangUpAtEnd();
  EXPECT_EQ(readBack(gone, 0, 4096, 1, dest.data(), dest.size()), kReadBackFailed);
}

TEST(FormatRange, BusyAndOtherStatusesBeforeSuccess) {
  ScriptedLink link;
  link.replyBytes(cat({{0x5A, 0x5A}, be32(3021), {0x00}, be32(55), be32(9), {0x69}, be32(0), {0x00, 0x5A, 0x5A}}));
  EXPECT_EQ(formatRange(link, kFormatFsArea, 0x200000, 0x100000), 0);
  EXPECT_EQ(link.sent, cat({{0xD4, 1, 0, 1}, be32(0x200000), be32(0x100000), {0x5A}, {0x5A}}));
  EXPECT_EQ(link.unread(), 0u);
}

TEST(FormatRange, WrongBytesAndSilenceGive3019) {
  FastClock fast;
  const std::vector<std::vector<uint8_t>> cases = {
      {0x5A, 0x00},
      cat({{0x5A, 0x5A}, be32(55), be32(9), {0x68}}),
      cat({{0x5A, 0x5A}, be32(0), {0x00, 0x5A, 0x00}}),
      {0x5A, 0x5A},
  };
  for (const auto& phone : cases) {
    ScriptedLink link;
    link.replyBytes(phone);
    EXPECT_EQ(formatRange(link, kFormatReservedBlocks, 0, 0x4000), kFormatFailed);
  }
}

}  // namespace
}  // namespace hx::test
