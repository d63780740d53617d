#pragma once
// The link of one session, composed in this one place from the phone's
// options. From the bottom up:
//
//   DescriptorPort      the transport: bytes over the pty master or socket
//   PacedPort           --link usb-fs: the pace of a USB full-speed port
//   SlowLinkPort        the slow-link fault: a slower line, a latency per turnaround
//   TurnRecordingPort   --turns: the exchange turn by turn, as it crossed
//   FaultInjectingPort  the unplug and line-noise faults that strike on the link's bytes
//   PhonePort           typed fields, the silence limit: what the protocol speaks over
//
// A layer the options do not ask for is left out; the faults' layer is
// always there, since every step beginning is told to it.
#include <optional>
#include <string>

#include "hxphone/descriptor_port.h"
#include "hxphone/fault_injecting_port.h"
#include "hxphone/faults.h"
#include "hxphone/link_turns.h"
#include "hxphone/paced_port.h"
#include "hxphone/phone_port.h"
#include "hxphone/port_timing.h"
#include "hxphone/slow_link_port.h"
#include "hxphone/stop_signal.h"
#include "hxphone/turn_recording_port.h"

namespace hxphone {

class SessionLink {
 public:
  // fd: the link; stop: raised when the phone must stop (nullptr: never);
  // turns: where the exchange is noted turn by turn (nullptr: nowhere).
  SessionLink(int fd, const StopSignal* stop, const PortTiming& timing, const FaultPlan& faults, LinkTurns* turns);
  SessionLink(const SessionLink&) = delete;
  SessionLink& operator=(const SessionLink&) = delete;

  PhonePort& port() { return *m_port; }
  bool stopRequested() const { return m_stop && m_stop->requested(); }

  // A protocol step begins for the `occurrence`-th time: the faults that
  // strike inside a step are armed (an unplug due at once ends the session).
  Ending stepBegins(const std::string& step, uint32_t occurrence) { return m_faults->stepBegins(step, occurrence); }
  // When a fault on the link's bytes struck, if one did.
  std::optional<LinkClock::time_point> inStepFaultStruck() const { return m_faults->struck(); }

 private:
  const StopSignal* m_stop;
  DescriptorPort m_descriptor;
  std::optional<PacedPort> m_paced;
  std::optional<SlowLinkPort> m_slowLink;
  std::optional<TurnRecordingPort> m_turnRecorder;
  std::optional<FaultInjectingPort> m_faults;
  std::optional<PhonePort> m_port;
};

}  // namespace hxphone
