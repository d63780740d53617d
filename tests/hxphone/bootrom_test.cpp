// The BootROM side of the phone, driven by the test host.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include <ostream>

#include "host_driver.h"
#include "hxphone/virtual_phone.h"
#include "hxphone/wire.h"
#include "test_images.h"

namespace hxphone::test {
namespace {

TEST(BootRom, AnswersEachHandshakeByteWithItsComplement) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  const uint8_t sent[4] = {0xA0, 0x0A, 0x50, 0x05};
  const uint8_t answers[4] = {0x5F, 0xF5, 0xAF, 0xFA};
  for (int i = 0; i < 4; ++i) {
    host.sendU8(sent[i]);
    EXPECT_EQ(host.receiveU8(), answers[i]);
  }
  EXPECT_EQ(phone.record()["bootrom"]["handshakes"], 1);
}

TEST(BootRom, WrongHandshakeByteStartsTheSequenceAgain) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.sendU8(0xA0);
  EXPECT_EQ(host.receiveU8(), 0x5F);
  host.sendU8(0x0A);
  EXPECT_EQ(host.receiveU8(), 0xF5);
  // 0x05 where 0x50 belongs: not answered, and the sequence starts over.
  host.sendU8(0x05);
  EXPECT_FALSE(host.tryReceiveU8(std::chrono::milliseconds(100)));
  host.sendU8(0x50);
  EXPECT_FALSE(host.tryReceiveU8(std::chrono::milliseconds(100)));
  // 0xA0 always starts afresh, even in the middle.
  host.sendU8(0xA0);
  EXPECT_EQ(host.receiveU8(), 0x5F);
  host.sendU8(0xA0);
  EXPECT_EQ(host.receiveU8(), 0x5F);
  for (uint8_t b : {0x0A, 0x50, 0x05}) {
    host.sendU8(b);
    EXPECT_EQ(host.receiveU8(), static_cast<uint8_t>(~b));
  }
  EXPECT_EQ(host.read16(0x801E0000), 0);  // command mode now
}

TEST(BootRom, HandshakeStartedAgainBeforeTheFirstCommandIsAnswered) {
  // A host that missed the last answer starts again; the BootROM goes along
  // until the first command, then echoes 0xA0 no more.
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  host.handshake();
  EXPECT_EQ(host.read16(0x801E0000), 0);
  host.sendU8(0xA0);
  // Echoed as every command is, then refused. The host takes the echo before
  // it goes: a host gone before the echo is written is another outcome.
  EXPECT_EQ(host.receiveU8(), 0xA0);
  EXPECT_EQ(host.finish(), Outcome::Failed);
}

TEST(BootRom, HandshakeGlitchAnswersZeroThenRecovers) {
  PhoneOptions options = largePagePhone();
  options.faults.handshakeGlitchAt = 2;
  VirtualPhone phone(options, freshNand(options));
  HostDriver host(phone);
  host.sendU8(0xA0);
  EXPECT_EQ(host.receiveU8(), 0x5F);
  host.sendU8(0x0A);
  EXPECT_EQ(host.receiveU8(), 0x00);
  host.handshake();
  EXPECT_EQ(phone.record()["bootrom"]["handshakes"], 1);
}

TEST(BootRom, SilentPhoneNeverAnswers) {
  PhoneOptions options = largePagePhone();
  options.faults.silent = true;
  VirtualPhone phone(options, freshNand(options));
  HostDriver host(phone);
  for (uint8_t b : {0xA0, 0x0A, 0x50, 0x05, 0xA0}) {
    host.sendU8(b);
    EXPECT_FALSE(host.tryReceiveU8(std::chrono::milliseconds(30)));
  }
}

TEST(BootRom, EchoesEveryCommandField) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  host.sendU8(0xA1);
  EXPECT_EQ(host.receiveU8(), 0xA1);
  host.sendU32(0x801E0000);
  EXPECT_EQ(host.receiveU32(), 0x801E0000u);
  host.sendU32(1);
  EXPECT_EQ(host.receiveU32(), 1u);
  host.sendU16(0x2200);
  EXPECT_EQ(host.receiveU16(), 0x2200);
  EXPECT_EQ(host.read16(0x801E0000), 0x2200);
  auto writes = phone.record()["bootrom"]["registerWrites"];
  ASSERT_EQ(writes.size(), 1u);
  EXPECT_EQ(writes[0]["address"], 0x801E0000u);
}

TEST(BootRom, PowerKeyRegistersAndStatusBits) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  // Busy (bit 7) for the first reads after power-on.
  EXPECT_TRUE(host.read16(0x800C0000) & 0x80);
  EXPECT_TRUE(host.read16(0x800C0000) & 0x80);
  EXPECT_FALSE(host.read16(0x800C0000) & 0x80);
  // Not idle (bit 6) for a while after a trigger.
  host.write16(0x800C0074, 1);
  EXPECT_TRUE(host.read16(0x800C0000) & 0x40);
  EXPECT_TRUE(host.read16(0x800C0000) & 0x40);
  EXPECT_FALSE(host.read16(0x800C0000) & 0x40);
  EXPECT_EQ(host.read16(0x800C0058), 0x000E);
  EXPECT_EQ(host.read16(0x800C0050), 0);
}

TEST(BootRom, LatchedKeysNeedNoKeyWrites) {
  PhoneOptions options = largePagePhone();
  options.powerKeyLatched = true;
  VirtualPhone phone(options, freshNand(options));
  HostDriver host(phone);
  host.handshake();
  host.disableWatchdog();
  host.latchPowerKey();
  auto record = phone.record();
  for (const auto& w : record["bootrom"]["registerWrites"]) {
    uint32_t a = w["address"];
    EXPECT_TRUE(a != 0x800C0050 && a != 0x800C0054 && a != 0x800C0010 && a != 0x800C0008 && a != 0x800C000C) << a;
  }
}

TEST(BootRom, AgentImageArrivesByteSwappedWithItsXorChecksum) {
  // Bytes 01 02 03 04 travel as 02 01 04 03; checksum 0x0201 ^ 0x0403 = 0x0602.
  Bytes da1 = da1Image();
  da1[0] = 1, da1[1] = 2, da1[2] = 3, da1[3] = 4;
  Bytes head = {1, 2, 3, 4};
  EXPECT_EQ(wordXor16(head), 0x0602);
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  host.disableWatchdog();
  host.latchPowerKey();
  host.sendAgentImage(0x40001400, da1);
  EXPECT_EQ(host.agentChecksum(0x40001400, 82808 / 2), wordXor16(da1));
  host.sendAgentImage(0x50044000, da2Image());
  EXPECT_EQ(host.agentChecksum(0x50044000, 7492 / 2), wordXor16(da2Image()));
  host.jump(0x40001400);
  EXPECT_EQ(host.awaitAgent().chipType, 0x20);
  auto images = phone.record()["bootrom"]["agentImages"];
  ASSERT_EQ(images.size(), 2u);
  EXPECT_EQ(images[0]["name"], "DA1");
  EXPECT_EQ(images[0]["length"], 82808u);
  EXPECT_EQ(images[1]["address"], 0x50044000u);
}

TEST(BootRom, BadAgentChecksumFaultAnswersAnotherValue) {
  PhoneOptions options = largePagePhone();
  options.faults.badAgentChecksum = true;
  VirtualPhone phone(options, freshNand(options));
  HostDriver host(phone);
  host.handshake();
  host.disableWatchdog();
  host.latchPowerKey();
  host.sendAgentImage(0x40001400, da1Image());
  EXPECT_NE(host.agentChecksum(0x40001400, 82808 / 2), wordXor16(da1Image()));
}

struct RefusedLoad {
  const char* name;
  uint32_t address;
  size_t length;
};

// Test names and messages show the case by its name.
void PrintTo(const RefusedLoad& c, std::ostream* out) { *out << c.name; }

class BootRomRefuses : public ::testing::TestWithParam<RefusedLoad> {};

TEST_P(BootRomRefuses, AgentImagesOtherThanDa1AtItsAddress) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  host.disableWatchdog();
  host.latchPowerKey();
  try {
    host.sendAgentImage(GetParam().address, patternBytes(GetParam().length, 5));
  } catch (const std::exception&) {
  }
  EXPECT_EQ(host.finish(), Outcome::Failed);
  EXPECT_NE(phone.failure().find("expected"), std::string::npos) << phone.failure();
}

INSTANTIATE_TEST_SUITE_P(Loads, BootRomRefuses,
                         ::testing::Values(RefusedLoad{"WrongAddress", 0x40001000, 82808},
                                           RefusedLoad{"WrongLength", 0x40001400, 82806},
                                           RefusedLoad{"Da2First", 0x50044000, 7492}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(BootRom, JumpBeforeDa2IsRefused) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  host.disableWatchdog();
  host.latchPowerKey();
  host.sendAgentImage(0x40001400, da1Image());
  host.agentChecksum(0x40001400, 82808 / 2);
  host.jump(0x40001400);
  EXPECT_EQ(host.finish(), Outcome::Failed);
  EXPECT_NE(phone.failure().find("DA1 and DA2"), std::string::npos) << phone.failure();
}

TEST(BootRom, LoadWithWatchdogOnIsRefused) {
  VirtualPhone phone(largePagePhone(), freshNand(largePagePhone()));
  HostDriver host(phone);
  host.handshake();
  try {
    host.sendAgentImage(0x40001400, da1Image());
  } catch (const std::exception&) {
  }
  EXPECT_EQ(host.finish(), Outcome::Failed);
  EXPECT_NE(phone.failure().find("watchdog"), std::string::npos) << phone.failure();
}

}  // namespace
}  // namespace hxphone::test
