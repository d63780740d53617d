#include "link/link_ops.h"

#include "formats/big_endian.h"
#include "platform/clock.h"

namespace hx {
namespace {

constexpr uint32_t kWriteTimeoutMs = 5000;  // the write constant of every setting the protocol uses
constexpr uint32_t kWaitingPollMs = 2;     // how often a wait for the phone to speak looks

// A write the link did not complete: the port took nothing in time, or it failed.
int noteWriteResult(Link& link, int rc, size_t count) {
  if (rc == kLinkNothingWritten) link.noteCause(LinkCause::stalled(static_cast<uint32_t>(count) + kWriteTimeoutMs));
  if (rc == kLinkFailed) link.noteCause(LinkCause::deviceFailed(link.failureDetail()));
  return rc;
}

// The phone answered: what went wrong before is no cause of what comes next.
int heard(Link& link) {
  if (link.cause().kind != LinkCause::Kind::None) link.clearCause();
  return kLinkOk;
}

}  // namespace

int setLinkTimeouts(Link& link, uint32_t readMs, uint32_t writeMs) {
  if (link.setTimeouts(readMs, writeMs) != kLinkOk) return kLinkFailed;
  link.rememberReadTimeout(readMs);
  return kLinkOk;
}

int writeBytes(Link& link, const void* bytes, size_t count) {
  return noteWriteResult(link, link.write(static_cast<const uint8_t*>(bytes), count), count);
}

int writeU8(Link& link, uint32_t value) {
  const uint8_t b = static_cast<uint8_t>(value);
  return writeBytes(link, &b, 1);
}

int writeU16(Link& link, uint32_t value) {
  uint8_t b[2];
  putU16(b, value);
  return writeBytes(link, b, sizeof b);
}

int writeU32(Link& link, uint32_t value) {
  uint8_t b[4];
  putU32(b, value);
  return writeBytes(link, b, sizeof b);
}

int readBytes(Link& link, void* dest, size_t count) {
  size_t got = 0;
  const int rc = link.read(static_cast<uint8_t*>(dest), count, &got);
  if (rc == kLinkOk && got == count) return heard(link);
  if (rc == kLinkNothingReceived && got == 0) {
    link.noteCause(LinkCause::silent(static_cast<uint32_t>(count) + link.readTimeoutMs()));
    return kLinkNothingReceived;
  }
  if (got == 0) link.noteCause(LinkCause::deviceFailed(link.failureDetail()));
  else link.noteCause(LinkCause::silent(static_cast<uint32_t>(count) + link.readTimeoutMs()));
  return kLinkFailed;
}

int readExact(Link& link, void* dest, size_t count) {
  if (count == 0) return kLinkNothingReceived;
  auto* out = static_cast<uint8_t*>(dest);
  size_t have = 0;
  Deadline bound(kReplyBoundMs);
  while (have < count) {
    size_t got = 0;
    const int rc = link.read(out + have, count - have, &got);
    if (got > count - have) return kLinkFailed;  // a link that claims more than asked
    have += got;
    if (rc == kLinkOk) continue;
    if (rc == kLinkFailed && got == 0) {  // the device failed or has gone
      link.noteCause(LinkCause::deviceFailed(link.failureDetail()));
      return kLinkFailed;
    }
    if (got > 0) bound = Deadline(kReplyBoundMs);  // progress: the phone is alive
    if (bound.expired()) {
      link.noteCause(LinkCause::silent(bound.elapsedMs()));
      return kLinkFailed;
    }
  }
  return heard(link);
}

int readWithin(Link& link, void* dest, size_t count, const Deadline& window) {
  auto* out = static_cast<uint8_t*>(dest);
  size_t have = 0;
  for (;;) {
    const bool lastRead = window.expired();
    size_t got = 0;
    const int rc = link.read(out + have, count - have, &got);
    if (got > count - have) return kLinkFailed;  // a link that claims more than asked
    have += got;
    if (have == count) return heard(link);
    if (rc == kLinkFailed && got == 0) {  // the device failed or has gone
      link.noteCause(LinkCause::deviceFailed(link.failureDetail()));
      return kLinkFailed;
    }
    if (lastRead) {
      link.noteCause(LinkCause::silent(window.elapsedMs()));
      return have == 0 ? kLinkNothingReceived : kLinkFailed;
    }
  }
}

void waitUntilWaiting(Link& link, size_t count, const Deadline& window) {
  while (link.waiting() < count && !window.expired()) sleepMs(kWaitingPollMs);
}

int readU8(Link& link, uint8_t* dest) {
  uint8_t b = 0;
  const int rc = readBytes(link, &b, 1);
  if (rc == kLinkOk) *dest = b;
  return rc;
}

int readU16(Link& link, uint16_t* dest) {
  uint8_t b[2];
  const int rc = readBytes(link, b, sizeof b);
  if (rc == kLinkOk) *dest = loadBe16(b);
  return rc;
}

int readU32(Link& link, uint32_t* dest) {
  uint8_t b[4];
  const int rc = readBytes(link, b, sizeof b);
  if (rc == kLinkOk) *dest = loadBe32(b);
  return rc;
}

}  // namespace hx
