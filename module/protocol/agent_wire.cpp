#include "protocol/agent_wire.h"

#include "serial/link_ops.h"

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
    if (bound.expired()) return kLinkNothingReceived;
  }
}

bool readAcknowledgement(Link& link, uint32_t boundMs) {
  uint8_t b = 0;
  return readByteWaiting(link, &b, boundMs) == kLinkOk && b == kAgentAck;
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
