#include "serial/link_ops.h"

#include "formats/big_endian.h"
#include "platform/clock.h"

namespace hx {

int setLinkTimeouts(Link& link, uint32_t readMs, uint32_t writeMs) {
  return link.setTimeouts(readMs, writeMs) == kLinkOk ? kLinkOk : kLinkFailed;
}

int writeBytes(Link& link, const void* bytes, size_t count) {
  return link.write(static_cast<const uint8_t*>(bytes), count);
}

int writeU8(Link& link, uint32_t value) {
  const uint8_t b = static_cast<uint8_t>(value);
  return link.write(&b, 1);
}

int writeU16(Link& link, uint32_t value) {
  uint8_t b[2];
  putU16(b, value);
  return link.write(b, sizeof b);
}

int writeU32(Link& link, uint32_t value) {
  uint8_t b[4];
  putU32(b, value);
  return link.write(b, sizeof b);
}

int readBytes(Link& link, void* dest, size_t count) {
  size_t got = 0;
  const int rc = link.read(static_cast<uint8_t*>(dest), count, &got);
  if (rc == kLinkOk && got == count) return kLinkOk;
  if (rc == kLinkNothingReceived && got == 0) return kLinkNothingReceived;
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
    if (rc == kLinkFailed && got == 0) return kLinkFailed;  // the device failed or has gone
    if (got > 0) bound = Deadline(kReplyBoundMs);           // progress: the phone is alive
    if (bound.expired()) return kLinkFailed;
  }
  return kLinkOk;
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
