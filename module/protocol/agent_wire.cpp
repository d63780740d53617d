#include "protocol/agent_wire.h"

#include "link/link_ops.h"

namespace hx {

uint16_t byteSum16(const uint8_t* bytes, size_t count) {
  uint32_t sum = 0;
  for (size_t i = 0; i < count; ++i) sum += bytes[i];
  return static_cast<uint16_t>(sum);
}

int readByteWaiting(Link& link, uint8_t* dest, uint32_t boundMs) {
  const Deadline bound(boundMs);
  for (;;) {
    const int rc = readU8(link, dest);
    if (rc == kLinkOk) return kLinkOk;
    if (rc != kLinkNothingReceived) return kLinkFailed;
    if (bound.expired()) {
      link.noteCause(LinkCause::silent(bound.elapsedMs()));
      return kLinkNothingReceived;
    }
  }
}

bool expectByteWaiting(Link& link, uint8_t expected, uint32_t boundMs) {
  uint8_t b = 0;
  if (readByteWaiting(link, &b, boundMs) != kLinkOk) return false;
  return isExpected(link, LinkCause::Subject::Byte, b, expected);
}

bool readAcknowledgement(Link& link, uint32_t boundMs) { return expectByteWaiting(link, kAgentAck, boundMs); }

bool isExpected(Link& link, LinkCause::Subject subject, uint32_t received, uint32_t expected) {
  if (received == expected) return true;
  link.noteCause(LinkCause::unexpected(subject, received, expected));
  return false;
}

int readU16Waiting(Link& link, uint16_t* dest) {
  uint8_t b[2];
  const int rc = readExact(link, b, sizeof b);
  if (rc == kLinkOk) *dest = loadBe16(b);
  return rc;
}

int readU32Waiting(Link& link, uint32_t* dest) {
  uint8_t b[4];
  const int rc = readExact(link, b, sizeof b);
  if (rc == kLinkOk) *dest = loadBe32(b);
  return rc;
}

}  // namespace hx
