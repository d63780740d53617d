#include <gtest/gtest.h>

#include "agent/agent_blocks.h"
#include "event_recorder.h"
#include "protocol/agent_commands.h"
#include "scripted_link.h"

namespace hx::test {
namespace {

struct AgentScript {
  uint32_t pauseBeforeVersionMs = 0;  // real milliseconds
  uint32_t pauseInReportMs = 0;       // between the flash report's two parts
  std::vector<uint8_t> beforeReady;
  std::vector<uint8_t> version{0x03, 0x02};
  uint8_t chip = 0x14;
  int norStopAfter = 3;      // answer 0x5A after this NOR record
  uint8_t detect = 0x5A;     // answer to "Detect NAND Flash"
  int nandStopAfter = 2;
  uint8_t scanDone = 0x5A;
};

void scriptAgent(ScriptedLink& link, const AgentScript& s) {
  link.replyBytes(s.beforeReady);
  link.reply({0xC0});
  if (s.pauseBeforeVersionMs) link.pause(s.pauseBeforeVersionMs);
  link.replyBytes(s.version);
  link.reply({s.chip});
  link.reply({0x5A});  // NOR record count taken
  for (int r = 1; r <= s.norStopAfter; ++r) link.reply({static_cast<uint8_t>(r == s.norStopAfter ? 0x5A : 0x00)});
  link.reply({s.detect});
  if (s.detect == 0x5A) {
    link.reply({0x5A});
    for (int r = 1; r <= s.nandStopAfter; ++r)
      link.reply({static_cast<uint8_t>(r == s.nandStopAfter ? 0x5A : 0x00)});
  }
  link.replyBytes(std::vector<uint8_t>(28, 0x01));
  if (s.pauseInReportMs) link.pause(s.pauseInReportMs);
  link.replyBytes(std::vector<uint8_t>(53, 0x02));
  link.reply({s.scanDone});
  link.replyBytes(std::vector<uint8_t>(9, 0x03));
}

// The bytes the host sends up to the NOR table's record count.
std::vector<uint8_t> configurationBytes(uint32_t acccon) {
  return cat({{0xFF, 0xFE, 0x00, 0x08, 0x00}, be32(acccon), {0x02}, be32(0)});
}

int connect(ScriptedLink& link, SessionReport& report) {
  const agent::AgentBlocks blocks = agent::embeddedAgentBlocks();
  return connectAgent(link, blocks.norTable, blocks.nandTable, report);
}

int connect(ScriptedLink& link) {
  EventRecorder quiet(57);
  return connect(link, quiet);
}

TEST(ConnectAgent, SkipsBytesBeforeReadyAndSendsBothTablesUntilTheAgentStops) {
  FastClock fast;
  EventRecorder events(57);
  ScriptedLink link;
  scriptAgent(link, {.beforeReady = {0x00, 0x11}});
  ASSERT_EQ(connect(link, events), 0);
  EXPECT_EQ(link.unread(), 0u);

  const agent::AgentBlocks blocks = agent::embeddedAgentBlocks();
  const uint8_t* nor = blocks.norTable.data;
  const uint8_t* nand = blocks.nandTable.data;
  const std::vector<uint8_t> expected =
      cat({configurationBytes(0x7007FFFF), be32(209), std::vector<uint8_t>(nor, nor + 3 * 36), be32(106),
           std::vector<uint8_t>(nand, nand + 2 * 52)});
  EXPECT_EQ(link.sent, expected);

  const std::vector<RecordedEvent> expectedEvents = {
      {57, 5, 0, "Start DA Connect"},
      {57, 4, 10, "Get DA Version"},
      {57, 4, 20, "Get BB chip type"},
      {57, 4, 30, "Send BootRom & Bootloader version"},
      {57, 4, 40, "Send Chip Select"},
      {57, 4, 50, "Send NFI_ACCCON setting"},
      {57, 4, 60, "Send Clock setting"},
      {57, 4, 70, "Detect NAND Flash"},
      {57, 4, 80, "Nand Flash Report"},
      {57, 4, 90, "Wait for DA to scan flash content"},
      {57, 5, 100, "DA connect complete"},
  };
  EXPECT_EQ(events.events, expectedEvents);
}

TEST(ConnectAgent, ChipTypeDecidesTheAcccon) {
  FastClock fast;
  for (uint8_t chip : {0x0F, 0x14, 0x15, 0x20, 0x22}) {
    ScriptedLink link;
    scriptAgent(link, {.chip = chip});
    ASSERT_EQ(connect(link), 0) << int(chip);
    const auto config = configurationBytes(chip == 0x15 ? 0x20022113 : 0x7007FFFF);
    EXPECT_TRUE(std::equal(config.begin(), config.end(), link.sent.begin())) << int(chip);
  }
}

TEST(ConnectAgent, RefusesWrongVersionAndUnknownChip) {
  FastClock fast;
  ScriptedLink version;
  scriptAgent(version, {.version = {0x03, 0x01}});
  EXPECT_EQ(connect(version), kAgentVersionWrong);
  ScriptedLink chip;
  scriptAgent(chip, {.chip = 0x21});
  EXPECT_EQ(connect(chip), kAgentChipUnknown);
  EXPECT_TRUE(chip.sent.empty());
}

TEST(ConnectAgent, NoNandTableWhenTheAgentDoesNotAskForIt) {
  FastClock fast;
  ScriptedLink link;
  scriptAgent(link, {.detect = 0x00});
  ASSERT_EQ(connect(link), 0);
  const agent::AgentBlocks blocks = agent::embeddedAgentBlocks();
  EXPECT_EQ(link.sent.size(), configurationBytes(0).size() + 4 + 3 * 36);
  (void)blocks;
}

TEST(ConnectAgent, SilenceReadErrorsAndAWrongScanAnswerFail) {
  FastClock fast;
  ScriptedLink silent;  // never sends its ready byte
  EXPECT_EQ(connect(silent), kAgentConnectFailed);
  ScriptedLink babbling;  // keeps sending other bytes
  babbling.replyBytes(std::vector<uint8_t>(5000, 0x00));
  EXPECT_EQ(connect(babbling), kAgentConnectFailed);
  ScriptedLink gone;
  gone.reply({0x00});
  gone.readError();
  gone.reply({0xC0, 0x03, 0x02});
  EXPECT_EQ(connect(gone), kAgentConnectFailed);
  EXPECT_GT(gone.unread(), 0u);
  ScriptedLink scan;
  scriptAgent(scan, {.scanDone = 0x33});
  EXPECT_EQ(connect(scan), kAgentConnectFailed);
}

// The two settle waits end once the agent has spoken: one look each when its
// bytes are there already.
TEST(ConnectAgent, SettleWaitsEndOnceTheAgentHasSpoken) {
  FastClock fast;
  ScriptedLink link;
  scriptAgent(link, {});
  ASSERT_EQ(connect(link), 0);
  EXPECT_EQ(link.waitingLooks, 2);

  ScriptedLink silent;  // never speaks: the first wait lasts its bound, the hunt its own
  EXPECT_EQ(connect(silent), kAgentConnectFailed);
  EXPECT_GT(silent.waitingLooks, 1);
  EXPECT_EQ(silent.cause().kind, LinkCause::Kind::Silent);
}

// The waits used to absorb an agent's pauses: its version may follow its
// ready byte late within the first window, its flash report's parts may come
// apart. At a clock of 0.1 the window is 300 ms; the pauses are 10 ms.
TEST(ConnectAgent, AnAgentThatPausesWithinTheSettleTimeStillConnects) {
  FastClock tenth(0.1);
  ScriptedLink lateVersion;
  scriptAgent(lateVersion, {.pauseBeforeVersionMs = 10});
  EXPECT_EQ(connect(lateVersion), 0);
  ScriptedLink splitReport;
  scriptAgent(splitReport, {.pauseInReportMs = 10});
  EXPECT_EQ(connect(splitReport), 0);
  EXPECT_EQ(splitReport.unread(), 0u);
}

TEST(SendDeviceTable, AllRecordsWhenTheAgentNeverStopsAndMalformedTablesRefused) {
  std::vector<uint8_t> table(3 * 36, 0xAB);
  ScriptedLink link;
  link.reply({0x5A, 0x00, 0x00, 0x00});
  EXPECT_EQ(sendDeviceTable(link, {table.data(), 108, 0}, 36), 0);
  EXPECT_EQ(link.writes.size(), 4u);
  ScriptedLink refused;
  refused.reply({0x00});
  EXPECT_EQ(sendDeviceTable(refused, {table.data(), 108, 0}, 36), kAgentConnectFailed);
  ScriptedLink ragged;
  EXPECT_EQ(sendDeviceTable(ragged, {table.data(), 100, 0}, 36), kAgentConnectFailed);
  EXPECT_TRUE(ragged.sent.empty());
}

TEST(AgentCommandE0, Results) {
  ScriptedLink ok;
  ok.reply({0x5A});
  EXPECT_EQ(agentCommandE0(ok), 0);
  EXPECT_EQ(ok.sent, cat({{0xE0}, be32(0)}));
  ScriptedLink other;
  other.reply({0x00});
  EXPECT_EQ(agentCommandE0(other), kAgentE0Refused);
  ScriptedLink silent;
  EXPECT_EQ(agentCommandE0(silent), kAgentE0Failed);
}

TEST(EnableWatchdog, AnswersOtherThanAckFail) {
  ScriptedLink ok;
  ok.reply({0x5A});
  EXPECT_EQ(enableWatchdog(ok, 64), 0);
  EXPECT_EQ(ok.sent, (std::vector<uint8_t>{0xDB, 0x00, 0x40}));
  ScriptedLink other;
  other.reply({0x00});
  EXPECT_EQ(enableWatchdog(other, 64), kWatchdogFailed);
}

void scriptSharedData(ScriptedLink& link, uint32_t length, uint8_t fill) {
  link.replyBytes(cat({be32(0), {0x5A}, {0x5A}, be32(length)}));
  link.replyBytes(std::vector<uint8_t>(length, fill));
}

TEST(ReadBootloaderSharedData, ReadsTheAnnouncedBytesAndDropsWhatDoesNotFit) {
  std::vector<uint8_t> dest(16, 0);
  std::vector<uint8_t> guarded(32, 0xEE);
  ScriptedLink link;
  scriptSharedData(link, 40, 0x7C);
  uint32_t length = 0;
  EXPECT_EQ(readBootloaderSharedData(link, 0x10002, guarded.data(), 16, &length), 0);
  EXPECT_EQ(length, 40u);
  EXPECT_EQ(link.unread(), 0u);  // the surplus was read ...
  for (size_t i = 0; i < 32; ++i) EXPECT_EQ(guarded[i], i < 16 ? 0x7C : 0xEE) << i;  // ... and dropped
  EXPECT_EQ(link.sent, cat({{0xBE}, be32(0x10002)}));
}

TEST(ReadBootloaderSharedData, ResultCodeByStep) {
  uint8_t dest[8];
  uint32_t length = 0;
  struct Case {
    std::vector<uint8_t> phone;
    int expected;
  };
  const std::vector<Case> cases = {
      {{}, kSharedReadStatus},
      {be32(77), 77},
      {be32(0), kSharedReadAck},
      {cat({be32(0), {0x00}}), kSharedAckWrong},
      {cat({be32(0), {0x5A}}), kSharedReadTypeAck},
      {cat({be32(0), {0x5A, 0x01}}), kSharedTypeAckWrong},
      {cat({be32(0), {0x5A, 0x5A}}), kSharedReadLength},
      {cat({be32(0), {0x5A, 0x5A}, be32(4), {1, 2}}), kSharedReadData},
  };
  for (const Case& c : cases) {
    ScriptedLink link;
    link.replyBytes(c.phone);
    EXPECT_EQ(readBootloaderSharedData(link, 0x10000, dest, sizeof dest, &length), c.expected);
  }
  ScriptedLink broken;
  broken.failWritesFrom(0);
  EXPECT_EQ(readBootloaderSharedData(broken, 0x10000, dest, sizeof dest, &length), kSharedSendCommand);
}

TEST(ReadBootloaderSharedData, EachByteGetsAThousandAttempts) {
  uint8_t dest[4];
  uint32_t length = 0;
  ScriptedLink patient;
  patient.replyBytes(cat({be32(0), {0x5A, 0x5A}, be32(2), {9}}));
  patient.silence(999);
  patient.reply({8});
  EXPECT_EQ(readBootloaderSharedData(patient, 0x10000, dest, sizeof dest, &length), 0);
  EXPECT_EQ(dest[1], 8);
  ScriptedLink tooLate;
  tooLate.replyBytes(cat({be32(0), {0x5A, 0x5A}, be32(2), {9}}));
  tooLate.silence(1000);
  tooLate.reply({8});
  EXPECT_EQ(readBootloaderSharedData(tooLate, 0x10000, dest, sizeof dest, &length), kSharedReadData);
}

}  // namespace
}  // namespace hx::test
