#include <cstring>

#include "platform/clock.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_wire.h"
#include "protocol/session_report.h"
#include "link/link_ops.h"

namespace hx {
namespace {

// The agent's settle time, before its ready byte and before its flash report.
// Each wait ends as soon as the agent has spoken (what it will read first is
// waiting); the reads up to its chip type may still wait out the first.
constexpr uint32_t kAgentSettleMs = 3000;
constexpr uint8_t kAgentVersion[2] = {0x03, 0x02};
constexpr uint8_t kChipWithOwnTiming = 0x15;
constexpr uint32_t kAccconChip15 = 0x20022113;
constexpr uint32_t kAccconOthers = 0x7007FFFF;
constexpr size_t kFlashReportPart1 = 28;
constexpr size_t kFlashReportPart2 = 53;
// What the host tells the agent during the connection, as it is sent.
constexpr uint8_t kBootRomAndBootloaderVersion[] = {0xFF, 0xFE};
constexpr uint8_t kChipSelect[] = {0x00, 0x08, 0x00};
constexpr uint8_t kClockSetting = 0x02;

bool knownChip(uint8_t chip) {
  return chip == 0x0F || chip == 0x14 || chip == 0x15 || chip == 0x20 || chip == 0x22;
}

// Skips whatever the agent sends before its ready byte (0xC0). When the bound
// passes, the last byte that came instead is the cause; a silence is noted by
// the reads.
bool huntReadyByte(Link& link) {
  const Deadline bound(kReplyBoundMs);
  bool heardOther = false;
  uint8_t last = 0;
  for (;;) {
    uint8_t b = 0;
    const int rc = readU8(link, &b);
    if (rc == kLinkOk && b == kAgentReady) return true;
    if (rc == kLinkFailed) return false;
    if (rc == kLinkOk) {
      heardOther = true;
      last = b;
    }
    if (bound.expired()) {
      link.noteCause(heardOther ? LinkCause::unexpected(LinkCause::Subject::Byte, last, kAgentReady)
                                : LinkCause::silent(bound.elapsedMs()));
      return false;
    }
  }
}

template <size_t N>
bool sendBytes(Link& link, const uint8_t (&bytes)[N]) {
  return writeBytes(link, bytes, N) == kLinkOk;
}

// The flash report: read to keep the stream in step, its values dropped.
bool readFlashReportPart(Link& link, size_t bytes) {
  uint8_t report[kFlashReportPart2];
  return readBytes(link, report, bytes) == kLinkOk;
}

int connectAgentSteps(Link& link, const ImageBuffer& norTable, const ImageBuffer& nandTable, SessionReport& report,
                      const Deadline& settled) {
  if (!huntReadyByte(link)) return kAgentConnectFailed;

  report.subStep(10, "Get DA Version");
  uint8_t version[2] = {};
  if (readWithin(link, version, sizeof version, settled) != kLinkOk) return kAgentConnectFailed;
  if (!isExpected(link, LinkCause::Subject::Word, loadBe16(version), loadBe16(kAgentVersion)))
    return kAgentVersionWrong;

  report.subStep(20, "Get BB chip type");
  uint8_t chip = 0;
  if (readWithin(link, &chip, 1, settled) != kLinkOk) return kAgentConnectFailed;
  if (!knownChip(chip)) {
    link.noteCause(LinkCause::unexpected(LinkCause::Subject::Byte, chip));
    return kAgentChipUnknown;
  }

  report.subStep(30, "Send BootRom & Bootloader version");
  if (!sendBytes(link, kBootRomAndBootloaderVersion)) return kAgentConnectFailed;

  report.subStep(40, "Send Chip Select");
  if (!sendBytes(link, kChipSelect)) return kAgentConnectFailed;

  report.subStep(50, "Send NFI_ACCCON setting");
  if (writeU32(link, chip == kChipWithOwnTiming ? kAccconChip15 : kAccconOthers) != kLinkOk)
    return kAgentConnectFailed;

  report.subStep(60, "Send Clock setting");
  if (writeU8(link, kClockSetting) != kLinkOk || writeU32(link, 0) != kLinkOk) return kAgentConnectFailed;

  if (sendDeviceTable(link, norTable, kNorRecordBytes) != 0) return kAgentConnectFailed;

  report.subStep(70, "Detect NAND Flash");
  uint8_t detect = 0;
  if (readU8(link, &detect) != kLinkOk) return kAgentConnectFailed;
  if (detect == kAgentAck && sendDeviceTable(link, nandTable, kNandRecordBytes) != 0) return kAgentConnectFailed;

  waitUntilWaiting(link, kFlashReportPart1 + kFlashReportPart2, Deadline(kAgentSettleMs));
  if (!readFlashReportPart(link, kFlashReportPart1)) return kAgentConnectFailed;
  report.subStep(80, "Nand Flash Report");
  if (!readFlashReportPart(link, kFlashReportPart2)) return kAgentConnectFailed;

  report.subStep(90, "Wait for DA to scan flash content");
  if (!readAcknowledgement(link, kFlashScanBoundMs)) return kAgentConnectFailed;
  uint8_t tail[9];
  if (readBytes(link, tail, 4) != kLinkOk || readBytes(link, tail + 4, 4) != kLinkOk ||
      readBytes(link, tail + 8, 1) != kLinkOk)
    return kAgentConnectFailed;
  return 0;
}

}  // namespace

int connectAgent(Link& link, const ImageBuffer& norTable, const ImageBuffer& nandTable, SessionReport& report) {
  const Deadline settled(kAgentSettleMs);
  waitUntilWaiting(link, 1, settled);
  report.step(0, "Start DA Connect");
  if (const int rc = connectAgentSteps(link, norTable, nandTable, report, settled); rc != 0) return rc;
  report.step(100, "DA connect complete");
  return 0;
}

int sendDeviceTable(Link& link, const ImageBuffer& table, size_t recordSize) {
  if (recordSize == 0 || table.data == nullptr || table.length % recordSize != 0) return kAgentConnectFailed;
  const uint32_t records = static_cast<uint32_t>(table.length / recordSize);
  uint8_t answer = 0;
  if (writeU32(link, records) != kLinkOk || readU8(link, &answer) != kLinkOk ||
      !isExpected(link, LinkCause::Subject::Byte, answer, kAgentAck))
    return kAgentConnectFailed;
  for (uint32_t i = 0; i < records; ++i) {
    if (writeBytes(link, table.data + i * recordSize, recordSize) != kLinkOk) return kAgentConnectFailed;
    if (readU8(link, &answer) != kLinkOk) return kAgentConnectFailed;
    if (answer == kAgentAck) break;  // the agent has found its device
  }
  return 0;
}

}  // namespace hx
