#include "hxphone/turn_recording_port.h"

namespace hxphone {

Ending TurnRecordingPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  if (Ending end = m_inner.read(into, deadline, what, arrival)) return end;
  m_turns.hostBytesTaken(arrival->count, LinkClock::now());
  return kGoOn;
}

Ending TurnRecordingPort::write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) {
  if (Ending end = m_inner.write(bytes, deadline)) return end;
  m_turns.phoneBytesSent(bytes.size(), LinkClock::now());
  return kGoOn;
}

}  // namespace hxphone
