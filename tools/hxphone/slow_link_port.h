#pragma once
// A layer for the slow-link fault (`slow-link=BPS[:LATENCY_MS]`): both
// directions together carry at most BPS bytes per second, and each change of
// direction (host to phone to host) costs the latency. Host bytes are taken
// in small pieces, so the host's writes back up the way they would on a
// slow line.
#include <cstdint>

#include "hxphone/byte_port.h"

namespace hxphone {

class SlowLinkPort : public BytePort {
 public:
  SlowLinkPort(BytePort& inner, uint32_t bytesPerSecond, double turnaroundLatencyMs);

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

 private:
  enum class Direction { None, FromHost, ToHost };
  void turnaround(Direction to);
  void throttle(size_t n);

  BytePort& m_inner;
  uint32_t m_bytesPerSecond;
  double m_turnaroundLatencyMs;
  Direction m_direction = Direction::None;
  LinkClock::time_point m_linkFreeAt{};
};

}  // namespace hxphone
