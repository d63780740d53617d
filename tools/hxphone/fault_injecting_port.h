#pragma once
// A layer for the faults of the plan that strike on the link's bytes: the
// unplug after a number of host bytes, and the in-step faults armed when a
// step first begins (an unplug or line noise a number of bytes into the
// step). Host bytes count as the phone takes them, phone bytes as they go
// down to the link.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hxphone/byte_port.h"
#include "hxphone/faults.h"

namespace hxphone {

class FaultInjectingPort : public BytePort {
 public:
  FaultInjectingPort(BytePort& inner, const FaultPlan& faults) : m_inner(inner), m_faults(faults) {}

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

  // A step begins for the `occurrence`-th time: arms the plan's in-step
  // faults of its first run (an unplug due at once strikes here).
  Ending stepBegins(const std::string& step, uint32_t occurrence);
  // When an in-step fault struck, if one did.
  std::optional<LinkClock::time_point> struck() const { return m_struck; }

 private:
  void noiseOnTaken(std::span<uint8_t> taken);
  std::span<const uint8_t> noiseOnSent(std::span<const uint8_t> bytes, std::vector<uint8_t>& noisy);
  Ending unplugWhenDue();
  void strike();

  BytePort& m_inner;
  const FaultPlan& m_faults;
  uint64_t m_received = 0;
  uint64_t m_sent = 0;
  // Armed in-step faults, as indexes of host bytes, phone bytes, or both.
  std::optional<uint64_t> m_noiseInAt, m_noiseOutAt, m_unplugAt;
  std::optional<LinkClock::time_point> m_struck;
};

}  // namespace hxphone
