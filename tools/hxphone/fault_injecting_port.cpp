#include "hxphone/fault_injecting_port.h"

#include <algorithm>
#include <vector>

namespace hxphone {

Ending FaultInjectingPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  if (Ending end = m_inner.read(into, deadline, what, arrival)) return end;
  if (arrival->count == 0) return kGoOn;
  noiseOnTaken(into.first(arrival->count));
  m_received += arrival->count;
  if (m_faults.unplugAfterBytes && m_received >= *m_faults.unplugAfterBytes)
    return SessionEnd{Outcome::Unplugged, "unplugged after " + std::to_string(m_received) + " bytes from the host"};
  return unplugWhenDue();
}

// The bytes up to an armed unplug go down; then the phone is gone.
Ending FaultInjectingPort::write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) {
  std::vector<uint8_t> noisy;
  bytes = noiseOnSent(bytes, noisy);
  if (Ending end = unplugWhenDue()) return end;
  if (m_unplugAt) bytes = bytes.first(std::min<uint64_t>(bytes.size(), *m_unplugAt - (m_received + m_sent)));
  if (Ending end = m_inner.write(bytes, deadline)) return end;
  m_sent += bytes.size();
  return unplugWhenDue();
}

Ending FaultInjectingPort::stepBegins(const std::string& step, uint32_t occurrence) {
  if (occurrence != 1) return kGoOn;
  if (m_faults.noiseIn.step == step) m_noiseInAt = m_received + m_faults.noiseIn.offset;
  if (m_faults.noiseOut.step == step) m_noiseOutAt = m_sent + m_faults.noiseOut.offset;
  if (m_faults.unplugIn.step == step) m_unplugAt = m_received + m_sent + m_faults.unplugIn.offset;
  return unplugWhenDue();
}

void FaultInjectingPort::strike() {
  if (!m_struck) m_struck = LinkClock::now();
}

// The taken host bytes are m_received onwards: the armed one among them
// arrives inverted, as line noise would have turned it.
void FaultInjectingPort::noiseOnTaken(std::span<uint8_t> taken) {
  if (!m_noiseInAt || *m_noiseInAt < m_received || *m_noiseInAt - m_received >= taken.size()) return;
  taken[static_cast<size_t>(*m_noiseInAt - m_received)] ^= 0xFF;
  m_noiseInAt.reset();
  strike();
}

// The phone's bytes are m_sent onwards: the armed one among them leaves
// inverted (from a copy in `noisy`).
std::span<const uint8_t> FaultInjectingPort::noiseOnSent(std::span<const uint8_t> bytes, std::vector<uint8_t>& noisy) {
  if (!m_noiseOutAt || *m_noiseOutAt < m_sent || *m_noiseOutAt - m_sent >= bytes.size()) return bytes;
  noisy.assign(bytes.begin(), bytes.end());
  noisy[static_cast<size_t>(*m_noiseOutAt - m_sent)] ^= 0xFF;
  m_noiseOutAt.reset();
  strike();
  return noisy;
}

Ending FaultInjectingPort::unplugWhenDue() {
  if (!m_unplugAt || m_received + m_sent < *m_unplugAt) return kGoOn;
  strike();
  return SessionEnd{Outcome::Unplugged,
                    "unplugged " + std::to_string(m_faults.unplugIn.offset) + " bytes into step " + m_faults.unplugIn.step};
}

}  // namespace hxphone
