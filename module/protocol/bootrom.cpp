#include "protocol/bootrom.h"

#include <algorithm>
#include <vector>

#include "platform/clock.h"
#include "link/link_ops.h"

namespace hx {
namespace {

// BootROM command bytes.
constexpr uint8_t kCmdWrite16 = 0xA1;
constexpr uint8_t kCmdRead16 = 0xA2;
constexpr uint8_t kCmdChecksum = 0xA4;
constexpr uint8_t kCmdJump = 0xA8;
constexpr uint8_t kCmdLoadAgent = 0xAD;

constexpr uint8_t kHandshake[4] = {0xA0, 0x0A, 0x50, 0x05};
constexpr size_t kAgentChunkBytes = 1024;
constexpr uint32_t kChecksumWaitMs = 200;

// Power-key controller registers.
constexpr uint32_t kPkStatus = 0x800C0000;
constexpr uint32_t kPkReg08 = 0x800C0008;
constexpr uint32_t kPkReg0C = 0x800C000C;
constexpr uint32_t kPkReg10 = 0x800C0010;
constexpr uint32_t kPkKey1 = 0x800C0050;
constexpr uint32_t kPkKey2 = 0x800C0054;
constexpr uint32_t kPkControl = 0x800C0058;
constexpr uint32_t kPkUnlock = 0x800C0068;
constexpr uint32_t kPkTrigger = 0x800C0074;
constexpr uint16_t kPkKey1Value = 0xA357;
constexpr uint16_t kPkKey2Value = 0x67D2;
constexpr uint16_t kPkStatusBusy = 0x80;
constexpr uint16_t kPkStatusIdleBit = 0x40;
constexpr uint16_t kPkTriggerGo = 1;
constexpr uint16_t kPkCleared = 0;
constexpr uint16_t kPkUnlockFirst = 0x586A;   // the unlock register takes these two in turn,
constexpr uint16_t kPkUnlockSecond = 0x9136;  // and kPkCleared to lock again
constexpr uint16_t kPkControlKeep = 0xFFF1;   // control bits kept when the latch is set
constexpr uint16_t kPkStatusLatch = 0x430E;   // written to the status register to latch the key

// The link time-outs of the BootROM and agent conversation, in ms.
constexpr uint32_t kBromReadTimeoutMs = 500;
constexpr uint32_t kBromWriteTimeoutMs = 5000;

constexpr uint32_t kWatchdogRegister = 0x801E0000;
constexpr uint16_t kWatchdogOff = 0x2200;

enum class HandshakePass { Done, NoAnswer, WrongAnswer, WriteFailed };

// One pass of the four handshake bytes, each answered with its complement. A
// wrong answer is noted on the link.
HandshakePass handshakeOnce(Link& link) {
  for (uint8_t b : kHandshake) {
    if (writeU8(link, b) != kLinkOk) return HandshakePass::WriteFailed;
    uint8_t answer = 0;
    if (readU8(link, &answer) != kLinkOk) return HandshakePass::NoAnswer;
    const auto expected = static_cast<uint8_t>(~b);
    if (answer != expected) {
      link.noteCause(LinkCause::unexpected(LinkCause::Subject::Byte, answer, expected));
      return HandshakePass::WrongAnswer;
    }
  }
  return HandshakePass::Done;
}

// An answer that came after its read had timed out is read as the answer to
// the next byte, and so on for ever: after a wrong answer, what has come is
// read and dropped before the sequence starts again. Abort ends it too.
void dropLateAnswers(Link& link, const Deadline& bound) {
  uint8_t b = 0;
  while (!bound.expired() && !link.cancelled() && readU8(link, &b) == kLinkOk) {
  }
}

// Sends a BootROM command header: the command byte and its u32 fields, each echoed.
bool sendEchoedCommand(Link& link, uint8_t command, std::initializer_list<uint32_t> fields) {
  if (echoU8(link, command) != kEchoOk) return false;
  for (uint32_t f : fields)
    if (echoU32(link, f) != kEchoOk) return false;
  return true;
}

// Sends the image's words high byte first, at most 1024 bytes per write.
bool sendAgentWords(Link& link, const ImageBuffer& image) {
  std::vector<uint8_t> chunk(kAgentChunkBytes);
  for (uint32_t offset = 0; offset < image.length; offset += kAgentChunkBytes) {
    const uint32_t n = std::min<uint32_t>(kAgentChunkBytes, image.length - offset);
    const uint8_t* src = image.data + offset;
    for (uint32_t i = 0; i + 1 < n; i += 2) {
      chunk[i] = src[i + 1];
      chunk[i + 1] = src[i];
    }
    if (writeBytes(link, chunk.data(), n) != kLinkOk) return false;
  }
  return true;
}

// Power-key helpers: every access failure ends the sequence.
bool pkWrite(Link& link, uint32_t address, uint16_t value) { return bromWrite16(link, address, value) == 0; }
bool pkTrigger(Link& link) { return pkWrite(link, kPkTrigger, kPkTriggerGo); }

// Reads `address` until (value & mask) == 0, within the reply bound.
bool pkWaitClear(Link& link, uint32_t address, uint16_t mask) {
  const Deadline bound(kReplyBoundMs);
  for (;;) {
    uint16_t value = 0;
    if (bromRead16(link, address, &value) != 0) return false;
    if ((value & mask) == 0) return true;
    if (bound.expired()) {
      link.noteCause(LinkCause::unexpected(LinkCause::Subject::Word, value, value & ~mask));
      return false;
    }
  }
}
bool pkWaitIdle(Link& link) { return pkWaitClear(link, kPkStatus, kPkStatusIdleBit); }
bool pkWriteTriggerIdle(Link& link, uint32_t address, uint16_t value) {
  return pkWrite(link, address, value) && pkTrigger(link) && pkWaitIdle(link);
}

bool powerKeyAlreadyKeyed(Link& link, bool* keyed) {
  uint16_t key1 = 0, key2 = 0;
  if (bromRead16(link, kPkKey1, &key1) != 0 || bromRead16(link, kPkKey2, &key2) != 0) return false;
  *keyed = key1 == kPkKey1Value && key2 == kPkKey2Value;
  return true;
}

bool writePowerKey(Link& link) {
  return pkWrite(link, kPkReg10, kPkCleared) && pkWrite(link, kPkReg08, kPkCleared) &&
         pkWrite(link, kPkReg0C, kPkCleared) &&
         pkTrigger(link) && pkWaitIdle(link) &&                                          //
         pkWrite(link, kPkKey1, kPkKey1Value) && pkWrite(link, kPkKey2, kPkKey2Value) &&  //
         pkTrigger(link) && pkWaitIdle(link) &&                                          //
         pkWaitClear(link, kPkStatus, kPkStatusBusy);
}

bool latchPowerKeySteps(Link& link) {
  if (!pkWaitClear(link, kPkStatus, kPkStatusBusy) || !pkWaitIdle(link)) return false;
  bool keyed = false;
  if (!powerKeyAlreadyKeyed(link, &keyed)) return false;
  if (!keyed && !writePowerKey(link)) return false;
  if (!pkWriteTriggerIdle(link, kPkUnlock, kPkUnlockFirst) || !pkWriteTriggerIdle(link, kPkUnlock, kPkUnlockSecond))
    return false;
  uint16_t control = 0;
  if (bromRead16(link, kPkControl, &control) != 0) return false;
  if (!pkWrite(link, kPkControl, static_cast<uint16_t>(control & kPkControlKeep)) || !pkTrigger(link)) return false;
  return pkWriteTriggerIdle(link, kPkStatus, kPkStatusLatch) && pkWriteTriggerIdle(link, kPkUnlock, kPkCleared);
}

}  // namespace

int bromStartHandshake(Link& link) {
  const Deadline bound(kReplyBoundMs);
  for (;;) {
    const HandshakePass pass = handshakeOnce(link);
    if (pass == HandshakePass::Done) return 0;
    if (pass == HandshakePass::WriteFailed || link.cancelled()) return kBromHandshakeFailed;
    if (bound.expired()) {
      // A phone that stayed silent is told by how long; a wrong answer is already noted.
      if (pass == HandshakePass::NoAnswer) link.noteCause(LinkCause::silent(bound.elapsedMs()));
      return kBromHandshakeFailed;
    }
    if (pass == HandshakePass::WrongAnswer) dropLateAnswers(link, bound);
  }
}

namespace {

// The echo of a field against the field sent; a difference is noted on the link.
int compareEcho(Link& link, LinkCause::Subject subject, uint32_t echo, uint32_t sent) {
  if (echo == sent) return kEchoOk;
  link.noteCause(LinkCause::unexpected(subject, echo, sent));
  return kEchoDiffers;
}

}  // namespace

int echoU8(Link& link, uint8_t value) {
  if (writeU8(link, value) != kLinkOk) return kEchoWriteFailed;
  uint8_t echo = 0;
  if (readU8(link, &echo) != kLinkOk) return kEchoReadFailed;
  return compareEcho(link, LinkCause::Subject::Byte, echo, value);
}

int echoU16(Link& link, uint16_t value) {
  if (writeU16(link, value) != kLinkOk) return kEchoWriteFailed;
  uint16_t echo = 0;
  if (readU16(link, &echo) != kLinkOk) return kEchoReadFailed;
  return compareEcho(link, LinkCause::Subject::Word, echo, value);
}

int echoU32(Link& link, uint32_t value) {
  if (writeU32(link, value) != kLinkOk) return kEchoWriteFailed;
  uint32_t echo = 0;
  if (readU32(link, &echo) != kLinkOk) return kEchoReadFailed;
  return compareEcho(link, LinkCause::Subject::Long, echo, value);
}

int bromWrite16(Link& link, uint32_t address, uint16_t value) {
  if (!sendEchoedCommand(link, kCmdWrite16, {address, 1}) || echoU16(link, value) != kEchoOk)
    return kBromWriteFailed;
  return 0;
}

int bromRead16(Link& link, uint32_t address, uint16_t* dest) {
  if (!sendEchoedCommand(link, kCmdRead16, {address, 1})) return kBromReadFailed;
  return readU16(link, dest) == kLinkOk ? 0 : kBromReadFailed;
}

uint16_t agentImageChecksum(const ImageBuffer& image) {
  uint16_t sum = 0;
  for (uint32_t i = 0; i + 1 < image.length; i += 2)
    sum ^= static_cast<uint16_t>(image.data[i] | image.data[i + 1] << 8);
  return sum;
}

int bromSendAgent(Link& link, const ImageBuffer& image) {
  // The BootROM loads whole 16-bit words: an odd or missing image cannot be described.
  if (image.data == nullptr || image.length == 0 || image.length % 2 != 0) return kBromAgentFailed;
  const uint32_t words = image.length / 2;
  if (!sendEchoedCommand(link, kCmdLoadAgent, {image.address, words})) return kBromAgentFailed;
  if (!sendAgentWords(link, image)) return kBromAgentFailed;
  if (!sendEchoedCommand(link, kCmdChecksum, {image.address, words})) return kBromAgentFailed;
  sleepMs(kChecksumWaitMs);
  uint16_t phoneSum = 0;
  if (readU16(link, &phoneSum) != kLinkOk) return kBromAgentFailed;
  const uint16_t hostSum = agentImageChecksum(image);
  if (phoneSum == hostSum) return 0;
  link.noteCause(LinkCause::unexpected(LinkCause::Subject::Checksum, phoneSum, hostSum));
  return kBromAgentFailed;
}

int bromJumpToAgent(Link& link, const ImageBuffer& image) {
  return sendEchoedCommand(link, kCmdJump, {image.address}) ? 0 : kBromJumpFailed;
}

int disableWatchdog(Link& link) { return bromWrite16(link, kWatchdogRegister, kWatchdogOff); }

int latchPowerKey(Link& link) { return latchPowerKeySteps(link) ? 0 : kBromPowerKeyFailed; }

int connectBootRom(Link& link, const ImageBuffer& da1, const ImageBuffer& da2, SessionReport& report) {
  report.log("Connecting to BootROM...\n");
  if (const int rc = bromStartHandshake(link); rc != 0) return rc;

  if (setLinkTimeouts(link, kBromReadTimeoutMs, kBromWriteTimeoutMs) != kLinkOk) return kBromTimeoutsFailed;

  report.log("Disabling watchdog..\n");
  if (const int rc = disableWatchdog(link); rc != 0) {
    // A BootROM that answers the write differently still sends four bytes;
    // reading them keeps the conversation in step.
    uint32_t dropped = 0;
    if (readU32(link, &dropped) != kLinkOk) return rc;
  }

  report.log("Latching powerkey...\n");
  if (const int rc = latchPowerKey(link); rc != 0) return rc;

  report.log("Sending DA1...\n");
  if (const int rc = bromSendAgent(link, da1); rc != 0) return rc;

  report.log("Sending DA2...\n");
  if (const int rc = bromSendAgent(link, da2); rc != 0) return rc;

  report.log("Transferring control to DA...\n");
  return bromJumpToAgent(link, da1);
}

}  // namespace hx
