#include "hxphone/session_link.h"

namespace hxphone {

SessionLink::SessionLink(int fd, const StopSignal* stop, const PortTiming& timing, const FaultPlan& faults,
                         LinkTurns* turns)
    : m_stop(stop), m_descriptor(fd, stop) {
  BytePort* top = &m_descriptor;
  if (timing.pacedLink) top = &m_paced.emplace(*top, *timing.pacedLink);
  if (faults.linkBytesPerSecond)
    top = &m_slowLink.emplace(*top, faults.linkBytesPerSecond, faults.turnaroundLatencyMs);
  if (turns) top = &m_turnRecorder.emplace(*top, *turns);
  top = &m_faults.emplace(*top, faults);
  m_port.emplace(*top, timing.silenceLimit);
}

}  // namespace hxphone
