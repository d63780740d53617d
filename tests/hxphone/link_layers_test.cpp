// The layers of the phone's link, each over a scripted port below it: the
// faults that strike on the link's bytes, the record of the turns, the
// paced link's frames and the typed reads and writes the protocol uses.
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <vector>

#include "hxphone/fault_injecting_port.h"
#include "hxphone/paced_port.h"
#include "hxphone/phone_port.h"
#include "hxphone/session_link.h"
#include "hxphone/turn_recording_port.h"
#include "scripted_port.h"

namespace hxphone::test {
namespace {

using Bytes = std::vector<uint8_t>;
const LinkClock::time_point kNoHurry = LinkClock::now() + std::chrono::hours(1);

FaultPlan planOf(std::initializer_list<const char*> faults) {
  FaultPlan plan;
  for (const char* f : faults) EXPECT_EQ(applyFault(plan, f), "") << f;
  return plan;
}

// Reads n bytes through `port`, one read each time.
Bytes take(BytePort& port, size_t n, Ending* ending = nullptr) {
  Bytes out(n);
  Arrival arrival;
  Ending end = port.read(out, std::nullopt, "a test read", &arrival);
  out.resize(arrival.count);
  if (ending) *ending = end;
  return out;
}

TEST(FaultInjectingPort, NoiseInTurnsTheHostsNthByteOfTheStepsFirstRun) {
  ScriptedPort wire;
  wire.arrive({1, 2, 3});
  wire.arrive({4, 5, 6, 7, 8, 9});
  const FaultPlan plan = planOf({"noise-in=format:4"});
  FaultInjectingPort port(wire, plan);
  EXPECT_EQ(take(port, 3), (Bytes{1, 2, 3}));  // before the step: not counted
  ASSERT_FALSE(port.stepBegins("format", 1));
  EXPECT_FALSE(port.struck());
  EXPECT_EQ(take(port, 3), (Bytes{4, 5, 6}));
  EXPECT_EQ(take(port, 3), (Bytes{7, static_cast<uint8_t>(8 ^ 0xFF), 9}));
  EXPECT_TRUE(port.struck());
}

TEST(FaultInjectingPort, NoiseOutTurnsThePhonesNthByteAndLeavesTheCallersBytes) {
  ScriptedPort wire;
  const FaultPlan plan = planOf({"noise-out=nfb:1"});
  FaultInjectingPort port(wire, plan);
  ASSERT_FALSE(port.stepBegins("nfb", 1));
  const Bytes answer = {0x5A, 0x69, 0x5A};
  ASSERT_FALSE(port.write(answer, kNoHurry));
  EXPECT_EQ(wire.written, (Bytes{0x5A, 0x69 ^ 0xFF, 0x5A}));
  EXPECT_EQ(answer, (Bytes{0x5A, 0x69, 0x5A}));
  ASSERT_FALSE(port.write(answer, kNoHurry));  // once only
  EXPECT_EQ(Bytes(wire.written.begin() + 3, wire.written.end()), answer);
}

TEST(FaultInjectingPort, UnplugInLetsExactlyNBytesCrossEitherWay) {
  ScriptedPort wire;
  wire.arrive({1, 2, 3});
  const FaultPlan plan = planOf({"unplug-in=write-block:5"});
  FaultInjectingPort port(wire, plan);
  ASSERT_FALSE(port.stepBegins("write-block", 1));
  EXPECT_EQ(take(port, 3), (Bytes{1, 2, 3}));
  const Ending end = port.write(Bytes{7, 8, 9, 10}, kNoHurry);
  ASSERT_TRUE(end);
  EXPECT_EQ(end.end().outcome, Outcome::Unplugged);
  EXPECT_EQ(end.end().why, "unplugged 5 bytes into step write-block");
  EXPECT_EQ(wire.written, (Bytes{7, 8})) << "three host bytes and two of the phone's crossed";
  EXPECT_TRUE(port.struck());
}

TEST(FaultInjectingPort, OnlyTheStepsFirstRunArmsAFault) {
  ScriptedPort wire;
  const FaultPlan plan = planOf({"unplug-in=format:0"});
  FaultInjectingPort port(wire, plan);
  EXPECT_FALSE(port.stepBegins("write-block", 1));
  EXPECT_FALSE(port.stepBegins("format", 2));
  const Ending end = port.stepBegins("format", 1);
  ASSERT_TRUE(end) << "an unplug due at once strikes as the step begins";
  EXPECT_EQ(end.end().outcome, Outcome::Unplugged);
}

TEST(FaultInjectingPort, UnplugAfterBytesCountsTheHostBytesTaken) {
  ScriptedPort wire;
  wire.arrive({1, 2, 3, 4, 5, 6, 7, 8});
  const FaultPlan plan = planOf({"unplug-after-bytes=6"});
  FaultInjectingPort port(wire, plan);
  ASSERT_FALSE(port.write(Bytes(10, 0xEE), kNoHurry)) << "the phone's bytes do not count";
  Ending end;
  EXPECT_EQ(take(port, 5, &end).size(), 5u);
  EXPECT_FALSE(end);
  take(port, 1, &end);
  ASSERT_TRUE(end);
  EXPECT_EQ(end.end().why, "unplugged after 6 bytes from the host");
}

TEST(TurnRecordingPort, NotesWhatCrossedAndNothingForAReadThatBroughtNothing) {
  ScriptedPort wire;
  wire.arrive({0xA0});
  wire.arrive({1, 2, 3, 4});
  LinkTurns turns;
  TurnRecordingPort port(wire, turns);
  take(port, 1);
  ASSERT_FALSE(port.write(Bytes{0x5F}, kNoHurry));
  take(port, 2);
  take(port, 2);
  take(port, 2);  // nothing came
  ASSERT_EQ(turns.turns().size(), 2u);
  EXPECT_EQ(turns.turns()[0].hostBytes, 1u);
  EXPECT_EQ(turns.turns()[0].phoneBytes, 1u);
  EXPECT_EQ(turns.turns()[1].hostBytes, 4u);
  EXPECT_EQ(turns.turns()[1].phoneBytes, 0u);
}

// The paced link takes the host's bytes a USB transfer at a time: a
// 16,897-byte packet waiting whole is taken from below in two transfers, not
// a read per frame, and still becomes the phone's a frame's worth at a time.
// The phone's bytes go down a frame at a time.
TEST(PacedPort, TakesTransfersFromBelowAndHandsOverFrames) {
  ScriptedPort wire;
  const PacedLink link;
  const size_t frame = link.bytesPerFrame();
  ASSERT_EQ(frame, 1000u);
  Bytes sent(16'897);
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<uint8_t>(i * 7);
  wire.arrive(sent);
  PacedPort port(wire, link);
  Bytes got;
  while (got.size() < sent.size()) {
    const Bytes piece = take(port, sent.size() - got.size());
    ASSERT_FALSE(piece.empty());
    ASSERT_LE(piece.size(), frame) << "only what has crossed, a frame's worth at a time";
    got.insert(got.end(), piece.begin(), piece.end());
  }
  EXPECT_EQ(got, sent);
  EXPECT_EQ(wire.readSizes.front(), kUsbTransferBytes);
  EXPECT_EQ(wire.arrivals, (std::vector<size_t>{kUsbTransferBytes, sent.size() - kUsbTransferBytes}));
  ASSERT_FALSE(port.write(Bytes(2500, 0x5A), kNoHurry));
  EXPECT_EQ(wire.writes, (std::vector<size_t>{1000, 1000, 500}));
}

// Bytes a transfer took just before the host hung up are still the phone's;
// the session ends at the next read.
TEST(PacedPort, HandsOverATransfersBytesBeforeTheHostsEnd) {
  ScriptedPort wire;
  wire.arrive({1, 2});
  wire.arrive({3, 4}, false);
  wire.endAfterPieces(SessionEnd{Outcome::HostGone, "host hung up"});
  PacedPort port(wire, PacedLink{});
  Ending end;
  EXPECT_EQ(take(port, 8, &end), (Bytes{1, 2, 3, 4}));
  EXPECT_FALSE(end);
  take(port, 8, &end);
  ASSERT_TRUE(end);
  EXPECT_EQ(end.end().why, "host hung up");
}

TEST(PhonePort, ReadsBigEndianFieldsAcrossPiecesAndEndsOnSilence) {
  ScriptedPort wire;
  wire.arrive({0x12, 0x34});
  wire.arrive({0x56, 0x78, 0x9A});
  PhonePort port(wire, std::chrono::milliseconds(250));
  uint32_t value = 0;
  ASSERT_FALSE(port.readU32(&value, "a word"));
  EXPECT_EQ(value, 0x12345678u);
  uint16_t half = 0;
  const Ending end = port.readU16(&half, "the rest");
  ASSERT_TRUE(end);
  EXPECT_EQ(end.end().outcome, Outcome::HostGone);
  EXPECT_EQ(end.end().why, "host silent for 250 ms, expected the rest");
  ASSERT_FALSE(port.writeByteAndU32(0xA5, 3041));
  EXPECT_EQ(wire.written, (Bytes{0xA5, 0x00, 0x00, 0x0B, 0xE1}));
}

// The session's link over a socket: the layers the options ask for are there.
TEST(SessionLink, ComposesTheLayersTheOptionsAskFor) {
  int fds[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, fds), 0);
  const FaultPlan plan = planOf({"unplug-after-bytes=5"});
  LinkTurns turns;
  SessionLink link(fds[1], nullptr, PortTiming{}, plan, &turns);
  const uint8_t host[6] = {0xA0, 0x0A, 0x50, 0x05, 0xA1, 0x80};
  ASSERT_EQ(::send(fds[0], host, 4, 0), 4);
  uint32_t word = 0;
  ASSERT_FALSE(link.port().readU32(&word, "the handshake"));
  EXPECT_EQ(word, 0xA00A5005u);
  ASSERT_FALSE(link.port().writeU8(0x5F));
  ASSERT_EQ(::send(fds[0], host + 4, 2, 0), 2);
  uint8_t b = 0;
  const Ending end = link.port().readU8(&b, "a command");
  ASSERT_TRUE(end);
  EXPECT_EQ(end.end().outcome, Outcome::Unplugged);
  ASSERT_EQ(turns.turns().size(), 2u);
  EXPECT_EQ(turns.turns()[0].hostBytes, 4u);
  EXPECT_EQ(turns.turns()[0].phoneBytes, 1u);
  EXPECT_EQ(turns.turns()[1].hostBytes, 1u);
  ::close(fds[0]);
  ::close(fds[1]);
}

}  // namespace
}  // namespace hxphone::test
