#include "protocol/bootrom.h"

#include <gtest/gtest.h>

#include <numeric>

#include "event_recorder.h"
#include "fake_bootrom.h"
#include "scripted_link.h"
#include "log_capture.h"

namespace hx::test {
namespace {

using Write = FakeBootRom::RegisterWrite;

TEST(BromHandshake, WrongAnswerRestartsAtTheFirstByte) {
  ScriptedLink link;
  link.reply({0x5F, 0x00});
  link.silence();  // nothing more has come: the sequence starts again
  link.reply({0x5F, 0xF5, 0xAF, 0xFA});
  EXPECT_EQ(bromStartHandshake(link), 0);
  EXPECT_EQ(link.sent, (std::vector<uint8_t>{0xA0, 0x0A, 0xA0, 0x0A, 0x50, 0x05}));
}

TEST(BromHandshake, AnswerThatCameLateIsDroppedBeforeTheSequenceStartsAgain) {
  // The phone answers every byte with its complement, but its first answer to
  // 0x05 comes after the host's read timed out: it is read as the answer to
  // the next 0xA0. Compared byte for byte from there on, every answer would be
  // one behind until the bound.
  FastClock fast;
  ScriptedLink link;
  bool late = true;
  link.onWrite = [&late](ScriptedLink& l, const uint8_t* bytes, size_t) {
    if (bytes[0] == 0x05 && late) {
      late = false;
      l.silence();
    }
    l.reply({static_cast<uint8_t>(~bytes[0])});
  };
  EXPECT_EQ(bromStartHandshake(link), 0);
  EXPECT_EQ(std::vector<uint8_t>(link.sent.end() - 4, link.sent.end()), (std::vector<uint8_t>{0xA0, 0x0A, 0x50, 0x05}));
}

TEST(BromHandshake, SilenceRestartsAndAnsweringPhoneConnects) {
  ScriptedLink link;
  link.silence(3);
  link.reply({0x5F, 0xF5, 0xAF, 0xFA});
  EXPECT_EQ(bromStartHandshake(link), 0);
  EXPECT_EQ(link.sent, (std::vector<uint8_t>{0xA0, 0xA0, 0xA0, 0xA0, 0x0A, 0x50, 0x05}));
}

TEST(BromHandshake, EndsOnFailedWriteOnAbortAndOnTheBound) {
  {
    ScriptedLink link;
    link.failWritesFrom(0);
    EXPECT_EQ(bromStartHandshake(link), kBromHandshakeFailed);
  }
  {
    ScriptedLink link;  // silent phone, session aborted
    link.cancel();
    EXPECT_EQ(bromStartHandshake(link), kBromHandshakeFailed);
    EXPECT_EQ(link.sent.size(), 1u);
  }
  {
    FastClock fast;
    ScriptedLink link;  // silent phone for ever
    EXPECT_EQ(bromStartHandshake(link), kBromHandshakeFailed);
  }
}

TEST(BromCommands, EchoRuleResults) {
  ScriptedLink differs;
  differs.reply({0x13});
  EXPECT_EQ(echoU8(differs, 0x12), kEchoDiffers);
  ScriptedLink silent;
  EXPECT_EQ(echoU32(silent, 0x40001400), kEchoReadFailed);
  EXPECT_EQ(silent.sent, (std::vector<uint8_t>{0x40, 0x00, 0x14, 0x00}));
  ScriptedLink broken;
  broken.failWritesFrom(0);
  EXPECT_EQ(echoU16(broken, 1), kEchoWriteFailed);
}

TEST(BromCommands, RegisterWriteAndReadFrames) {
  ScriptedLink link;
  link.replyBytes(cat({{0xA1}, be32(0x801E0000), be32(1), be16(0x2200)}));
  EXPECT_EQ(disableWatchdog(link), 0);
  EXPECT_EQ(link.sent, cat({{0xA1}, be32(0x801E0000), be32(1), be16(0x2200)}));

  ScriptedLink read;
  read.replyBytes(cat({{0xA2}, be32(0x800C0058), be32(1), be16(0x1234)}));
  uint16_t value = 0;
  EXPECT_EQ(bromRead16(read, 0x800C0058, &value), 0);
  EXPECT_EQ(value, 0x1234);

  ScriptedLink badEcho;
  badEcho.replyBytes(cat({{0xA1}, be32(0x801E0000), be32(2)}));
  EXPECT_EQ(disableWatchdog(badEcho), kBromWriteFailed);
  ScriptedLink noValue;
  noValue.replyBytes(cat({{0xA2}, be32(0x800C0058), be32(1)}));
  EXPECT_EQ(bromRead16(noValue, 0x800C0058, &value), kBromReadFailed);
}

TEST(BromSendAgent, WordsTravelHighByteFirstWithXorChecksum) {
  const uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04};
  const ImageBuffer image{bytes, 4, 0x40001400};
  EXPECT_EQ(agentImageChecksum(image), 0x0602);

  ScriptedLink link;
  link.replyBytes(cat({{0xAD}, be32(0x40001400), be32(2), {0xA4}, be32(0x40001400), be32(2), be16(0x0602)}));
  EXPECT_EQ(bromSendAgent(link, image), 0);
  EXPECT_EQ(link.sent, cat({{0xAD}, be32(0x40001400), be32(2), {0x02, 0x01, 0x04, 0x03}, {0xA4}, be32(0x40001400),
                            be32(2)}));
}

TEST(BromSendAgent, ChunksOfAtMost1024BytesAndChecksumMismatch) {
  std::vector<uint8_t> bytes(2500);
  std::iota(bytes.begin(), bytes.end(), 0);
  const ImageBuffer image{bytes.data(), 2500, 0x50044000};
  FakeBootRom phone;
  // Handshake first so the model is in command mode.
  ASSERT_EQ(bromStartHandshake(phone), 0);
  EXPECT_EQ(bromSendAgent(phone, image), 0);
  ASSERT_EQ(phone.images.size(), 1u);
  for (size_t i = 0; i < bytes.size(); i += 2) {
    ASSERT_EQ(phone.images[0].wireBytes[i], bytes[i + 1]);
    ASSERT_EQ(phone.images[0].wireBytes[i + 1], bytes[i]);
  }

  // The chunk sizes as the link saw them.
  ScriptedLink link;
  link.replyBytes(cat({{0xAD}, be32(0x50044000), be32(1250)}));
  bromSendAgent(link, image);
  std::vector<size_t> sizes;
  for (const auto& w : link.writes) sizes.push_back(w.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{1, 4, 4, 1024, 1024, 452, 1}));

  phone.checksumAdjust = 1;
  EXPECT_EQ(bromSendAgent(phone, image), kBromAgentFailed);
}

TEST(BromSendAgent, RefusesImagesThatAreNotWholeWords) {
  const uint8_t bytes[3] = {1, 2, 3};
  ScriptedLink link;
  EXPECT_EQ(bromSendAgent(link, ImageBuffer{bytes, 3, 0}), kBromAgentFailed);
  EXPECT_EQ(bromSendAgent(link, ImageBuffer{nullptr, 4, 0}), kBromAgentFailed);
  EXPECT_TRUE(link.sent.empty());
}

constexpr uint32_t kStatus = 0x800C0000;

std::vector<uint32_t> writtenAddresses(const FakeBootRom& phone) {
  std::vector<uint32_t> out;
  for (const auto& w : phone.writes) out.push_back(w.address);
  return out;
}

TEST(LatchPowerKey, KeyedPhoneStartsWithTheUnlockWrite) {
  FakeBootRom phone;
  ASSERT_EQ(bromStartHandshake(phone), 0);
  phone.registers[0x800C0050] = 0xA357;
  phone.registers[0x800C0054] = 0x67D2;
  phone.registers[0x800C0058] = 0x000E;
  EXPECT_EQ(latchPowerKey(phone), 0);
  ASSERT_FALSE(phone.writes.empty());
  EXPECT_EQ(phone.writes.front(), (Write{0x800C0068, 0x586A}));
  for (uint32_t a : writtenAddresses(phone))
    for (uint32_t untouched : {0x800C0010u, 0x800C0008u, 0x800C000Cu, 0x800C0050u, 0x800C0054u})
      EXPECT_NE(a, untouched);
  const std::vector<Write> expected = {
      {0x800C0068, 0x586A}, {0x800C0074, 1}, {0x800C0068, 0x9136}, {0x800C0074, 1}, {0x800C0058, 0x0000},
      {0x800C0074, 1},      {kStatus, 0x430E}, {0x800C0074, 1},    {0x800C0068, 0},  {0x800C0074, 1}};
  EXPECT_EQ(phone.writes, expected);
}

TEST(LatchPowerKey, FreshPhoneIsKeyedFirstAndControlBitsCleared) {
  FakeBootRom phone;
  ASSERT_EQ(bromStartHandshake(phone), 0);
  phone.registers[0x800C0058] = 0x1234;
  phone.scriptedReads[kStatus] = {0x80, 0x80, 0x00, 0x40, 0x00};  // busy twice, then idle after one poll
  EXPECT_EQ(latchPowerKey(phone), 0);
  const std::vector<Write> keying(phone.writes.begin(), phone.writes.begin() + 7);
  EXPECT_EQ(keying, (std::vector<Write>{{0x800C0010, 0},
                                        {0x800C0008, 0},
                                        {0x800C000C, 0},
                                        {0x800C0074, 1},
                                        {0x800C0050, 0xA357},
                                        {0x800C0054, 0x67D2},
                                        {0x800C0074, 1}}));
  bool sawControl = false;
  for (const auto& w : phone.writes)
    if (w.address == 0x800C0058) {
      EXPECT_EQ(w.value, 0x1230);
      sawControl = true;
    }
  EXPECT_TRUE(sawControl);
}

TEST(LatchPowerKey, FailedAccessOrEndlessBusyGives2025) {
  {
    ScriptedLink silent;
    EXPECT_EQ(latchPowerKey(silent), kBromPowerKeyFailed);
  }
  {
    FastClock fast;
    FakeBootRom phone;
    ASSERT_EQ(bromStartHandshake(phone), 0);
    phone.registers[kStatus] = 0x80;  // busy for ever
    EXPECT_EQ(latchPowerKey(phone), kBromPowerKeyFailed);
  }
}

TEST(ConnectBootRom, LoadsBothAgentsAndJumpsToDa1WithItsLogLines) {
  FastClock fast;
  std::vector<uint8_t> da1(82808, 0x11), da2(7492, 0x22);
  FakeBootRom phone;
  hxtest::LogCapture out;
  const int rc = connectBootRom(phone, {da1.data(), 82808, 0x40001400}, {da2.data(), 7492, 0x50044000}, quiet());
  EXPECT_EQ(out.text(),
            "Connecting to BootROM...\nDisabling watchdog..\nLatching powerkey...\nSending DA1...\n"
            "Sending DA2...\nTransferring control to DA...\n");
  EXPECT_EQ(rc, 0);
  ASSERT_EQ(phone.images.size(), 2u);
  EXPECT_EQ(phone.images[0].address, 0x40001400u);
  EXPECT_EQ(phone.images[1].address, 0x50044000u);
  EXPECT_EQ(phone.jumps, (std::vector<uint32_t>{0x40001400}));
  EXPECT_EQ(phone.writes.front(), (Write{0x801E0000, 0x2200}));
}

TEST(ConnectBootRom, ChecksumMismatchStopsBeforeDa2) {
  FastClock fast;
  std::vector<uint8_t> da(64, 0x33);
  FakeBootRom phone;
  phone.checksumAdjust = 0x0100;
  hxtest::LogCapture out;
  EXPECT_EQ(connectBootRom(phone, {da.data(), 64, 0x40001400}, {da.data(), 64, 0x50044000}, quiet()), kBromAgentFailed);
  EXPECT_EQ(out.text().find("Sending DA2"), std::string::npos);
  EXPECT_EQ(phone.images.size(), 1u);
}

TEST(ConnectBootRom, FailedWatchdogWriteWithFourBytesGoesOn) {
  FastClock fast;
  std::vector<uint8_t> da(8, 0x44);
  FakeBootRom phone;
  phone.failWriteToAddress = 0x801E0000;  // the value echo differs
  // The model echoes the wrong value (2 bytes); the host then reads four bytes:
  // the model has nothing queued, so the connection stops with 2008 ...
  hxtest::LogCapture out;
  EXPECT_EQ(connectBootRom(phone, {da.data(), 8, 0x40001400}, {da.data(), 8, 0x50044000}, quiet()), kBromWriteFailed);
  EXPECT_EQ(out.text().find("Latching"), std::string::npos);

  // ... whereas four readable bytes after the failed write lead to the power key.
  ScriptedLink link;
  link.reply({0x5F, 0xF5, 0xAF, 0xFA});
  link.replyBytes(cat({{0xA1}, be32(0x801E0000), be32(1), be16(0x2201), {1, 2, 3, 4}}));
  hxtest::LogCapture out2;
  connectBootRom(link, {da.data(), 8, 0x40001400}, {da.data(), 8, 0x50044000}, quiet());
  EXPECT_NE(out2.text().find("Latching powerkey...\n"), std::string::npos);
  EXPECT_EQ(link.timeouts, (std::vector<std::pair<uint32_t, uint32_t>>{{500, 5000}}));
}

TEST(ConnectBootRom, TimeoutsThatCannotBeSetGive1012) {
  ScriptedLink link;
  link.reply({0x5F, 0xF5, 0xAF, 0xFA});
  link.failTimeouts();
  hxtest::LogCapture out;
  EXPECT_EQ(connectBootRom(link, {}, {}, quiet()), kBromTimeoutsFailed);
  out.text();
}

}  // namespace
}  // namespace hx::test
