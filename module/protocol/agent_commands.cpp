#include "protocol/agent_commands.h"

#include <algorithm>

#include "platform/clock.h"
#include "protocol/agent_command_bytes.h"
#include "protocol/agent_wire.h"
#include "link/link_ops.h"

namespace hx {
namespace {

constexpr int kSharedDataAttemptsPerByte = 1000;
constexpr uint32_t kFormatBusyStatus = 3021;

bool readExpected(Link& link, uint8_t expected) {
  uint8_t b = 0;
  return readU8(link, &b) == kLinkOk && isExpected(link, LinkCause::Subject::Byte, b, expected);
}

// Reads the announced shared-data bytes in pieces; each byte gets up to 1000
// read attempts, a read error ends the read, and bytes past `capacity` are
// read and dropped.
int readSharedDataBytes(Link& link, uint8_t* dest, size_t capacity, uint32_t length) {
  uint8_t overflow[512];
  uint32_t have = 0;
  int attempts = 0;
  Deadline bound(kReplyBoundMs);
  while (have < length) {
    uint8_t* target = have < capacity ? dest + have : overflow;
    const size_t room = have < capacity ? capacity - have : sizeof overflow;
    const size_t want = std::min<size_t>(length - have, room);
    size_t got = 0;
    const int rc = link.read(target, want, &got);
    if (got > want) return kSharedReadData;
    if (got > 0) {
      have += static_cast<uint32_t>(got);
      attempts = 0;
      bound = Deadline(kReplyBoundMs);
      continue;
    }
    if (rc == kLinkFailed || ++attempts >= kSharedDataAttemptsPerByte || bound.expired()) return kSharedReadData;
  }
  return 0;
}

// One status of the format loop: 0 finished, 1 go on, -1 failure.
int handleFormatStatus(Link& link, uint32_t status) {
  uint8_t unused = 0;
  if (status == 0) {
    if (readByteWaiting(link, &unused) != kLinkOk || writeU8(link, kAgentAck) != kLinkOk) return -1;
    return readAcknowledgement(link) && readAcknowledgement(link) ? 0 : -1;
  }
  if (status == kFormatBusyStatus)
    return readByteWaiting(link, &unused) == kLinkOk && writeU8(link, kAgentAck) == kLinkOk ? 1 : -1;
  uint32_t detail = 0;
  if (readU32Waiting(link, &detail) != kLinkOk) return -1;
  return expectByteWaiting(link, kAgentContinue) ? 1 : -1;
}

}  // namespace

int agentCommandE0(Link& link) {
  uint8_t frame[5] = {kCmdE0};
  putU32(frame + 1, 0);
  uint8_t answer = 0;
  if (writeBytes(link, frame, sizeof frame) != kLinkOk || readU8(link, &answer) != kLinkOk) return kAgentE0Failed;
  return isExpected(link, LinkCause::Subject::Byte, answer, kAgentAck) ? 0 : kAgentE0Refused;
}

int readBootloaderSharedData(Link& link, uint32_t type, uint8_t* dest, size_t capacity, uint32_t* length) {
  if (writeU8(link, kCmdSharedData) != kLinkOk) return kSharedSendCommand;
  uint32_t status = 0;
  if (readU32(link, &status) != kLinkOk) return kSharedReadStatus;
  if (status != 0) return static_cast<int>(status);
  uint8_t b = 0;
  if (readU8(link, &b) != kLinkOk) return kSharedReadAck;
  if (!isExpected(link, LinkCause::Subject::Byte, b, kAgentAck)) return kSharedAckWrong;
  if (writeU32(link, type) != kLinkOk) return kSharedSendType;
  if (readU8(link, &b) != kLinkOk) return kSharedReadTypeAck;
  if (!isExpected(link, LinkCause::Subject::Byte, b, kAgentAck)) return kSharedTypeAckWrong;
  uint32_t announced = 0;
  if (readU32(link, &announced) != kLinkOk) return kSharedReadLength;
  *length = announced;
  return readSharedDataBytes(link, dest, dest ? capacity : 0, announced);
}

int formatRange(Link& link, FormatFlags flags, uint32_t start, uint32_t length) {
  uint8_t frame[12] = {kCmdFormat, flags.first, flags.second, flags.third};
  putU32(putU32(frame + 4, start), length);
  if (writeBytes(link, frame, sizeof frame) != kLinkOk) return kFormatFailed;
  if (!readAcknowledgement(link) || !readAcknowledgement(link)) return kFormatFailed;
  // The agent reports while it erases; a format has the flash-scan bound as a whole.
  const Deadline bound(kFlashScanBoundMs);
  for (;;) {
    uint32_t status = 0;
    if (readU32Waiting(link, &status) != kLinkOk) return kFormatFailed;
    const int step = handleFormatStatus(link, status);
    if (step == 0) return 0;
    if (step < 0 || bound.expired()) return kFormatFailed;
  }
}

int enableWatchdog(Link& link, uint16_t value) {
  uint8_t frame[3] = {kCmdEnableWatchdog};
  putU16(frame + 1, value);
  if (writeBytes(link, frame, sizeof frame) != kLinkOk) return kWatchdogFailed;
  return readExpected(link, kAgentAck) ? 0 : kWatchdogFailed;
}

}  // namespace hx
