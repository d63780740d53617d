#pragma once
// The link as the protocol speaks over it: typed fields read from and
// written to the host (numbers on the serial line are big-endian), over the
// top layer of the session's link (see SessionLink).
//
// Every read waits at most the silence limit for the host's next bytes (the
// host has gone quiet), except the patient read of a phone waiting to be
// connected; every write gives up on a host that takes nothing for as long.
#include <chrono>
#include <cstddef>
#include <cstdint>

#include "hxphone/byte_port.h"
#include "hxphone/session_end.h"

namespace hxphone {

class PhonePort {
 public:
  PhonePort(BytePort& link, std::chrono::milliseconds silenceLimit) : m_link(link), m_silenceLimit(silenceLimit) {}

  // Typed reads of host bytes (big-endian). `what` names the field when the
  // session ends waiting for it.
  Ending readU8(uint8_t* value, const char* what);
  Ending readU16(uint16_t* value, const char* what);
  Ending readU32(uint32_t* value, const char* what);
  Ending readBytes(uint8_t* dest, size_t n, const char* what);

  // Reads one byte waiting as long as it takes (the phone waiting to be
  // connected); ends only with a byte, the host gone, or a stop.
  Ending readU8Patiently(uint8_t* value);

  // Reads and checks one field: a different value is a protocol violation.
  Ending expectU8(uint8_t expected, const char* what);
  Ending expectU32(uint32_t expected, const char* what);

  Ending writeU8(uint8_t v);
  Ending writeU16(uint16_t v);
  Ending writeU32(uint32_t v);
  Ending writeBytes(const uint8_t* bytes, size_t n);
  // A byte and a status in one write: 0xA5 and 3041 for a bad block.
  Ending writeByteAndU32(uint8_t b, uint32_t v);

 private:
  BytePort& m_link;
  std::chrono::milliseconds m_silenceLimit;
};

}  // namespace hxphone
