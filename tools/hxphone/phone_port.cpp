#include "hxphone/phone_port.h"

#include <string>

#include "hxphone/wire.h"

namespace hxphone {

Ending PhonePort::readBytes(uint8_t* dest, size_t n, const char* what) {
  for (size_t done = 0; done < n;) {
    Arrival arrival;
    const std::span<uint8_t> rest(dest + done, n - done);
    if (Ending end = m_link.read(rest, LinkClock::now() + m_silenceLimit, what, &arrival)) return end;
    if (arrival.count == 0)
      return SessionEnd{Outcome::HostGone, std::string("host silent for ") + std::to_string(m_silenceLimit.count()) +
                                               " ms, expected " + what};
    done += arrival.count;
  }
  return kGoOn;
}

Ending PhonePort::readU8(uint8_t* value, const char* what) { return readBytes(value, 1, what); }

Ending PhonePort::readU16(uint16_t* value, const char* what) {
  uint8_t b[2];
  if (Ending end = readBytes(b, 2, what)) return end;
  *value = static_cast<uint16_t>(b[0] << 8 | b[1]);
  return kGoOn;
}

Ending PhonePort::readU32(uint32_t* value, const char* what) {
  uint8_t b[4];
  if (Ending end = readBytes(b, 4, what)) return end;
  *value = static_cast<uint32_t>(b[0]) << 24 | static_cast<uint32_t>(b[1]) << 16 | static_cast<uint32_t>(b[2]) << 8 | b[3];
  return kGoOn;
}

Ending PhonePort::readU8Patiently(uint8_t* value) {
  Arrival arrival;
  return m_link.read({value, 1}, std::nullopt, "the host", &arrival);
}

Ending PhonePort::expectU8(uint8_t expected, const char* what) {
  uint8_t got = 0;
  if (Ending end = readU8(&got, what)) return end;
  if (got != expected) return violation(what, hex(expected), hex(got));
  return kGoOn;
}

Ending PhonePort::expectU32(uint32_t expected, const char* what) {
  uint32_t got = 0;
  if (Ending end = readU32(&got, what)) return end;
  if (got != expected) return violation(what, hex(expected, 8), hex(got, 8));
  return kGoOn;
}

Ending PhonePort::writeBytes(const uint8_t* bytes, size_t n) {
  return m_link.write({bytes, n}, LinkClock::now() + m_silenceLimit);
}

Ending PhonePort::writeU8(uint8_t v) { return writeBytes(&v, 1); }

Ending PhonePort::writeByteAndU32(uint8_t b, uint32_t v) {
  uint8_t bytes[5] = {b, static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                      static_cast<uint8_t>(v)};
  return writeBytes(bytes, 5);
}

Ending PhonePort::writeU16(uint16_t v) {
  uint8_t b[2] = {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
  return writeBytes(b, 2);
}

Ending PhonePort::writeU32(uint32_t v) {
  uint8_t b[4] = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
                  static_cast<uint8_t>(v)};
  return writeBytes(b, 4);
}

}  // namespace hxphone
