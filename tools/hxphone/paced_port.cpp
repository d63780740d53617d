#include "hxphone/paced_port.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace hxphone {

// A link idle for less than a frame has not paused.
PacedPort::PacedPort(BytePort& inner, const PacedLink& link)
    : m_inner(inner),
      m_link(link),
      m_fromHost(link.bytesPerSecond, link.frame),
      m_toHost(link.bytesPerSecond, link.frame),
      m_frame(link.bytesPerFrame()) {}

Ending PacedPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  m_answering = false;
  *arrival = {};
  if (m_head == m_tail) {
    if (Ending end = takeFrame(deadline, what, arrival)) return end;
    if (arrival->count == 0) return kGoOn;
  }
  arrival->count = std::min(into.size(), m_tail - m_head);
  std::memcpy(into.data(), m_frame.data() + m_head, arrival->count);
  m_head += arrival->count;
  return kGoOn;
}

// Up to a frame's worth from below, the phone's once it has crossed: bytes the
// phone waited for start a run unless the link is still busy; bytes that
// were waiting follow the ones before them.
Ending PacedPort::takeFrame(ReadDeadline deadline, const char* what, Arrival* arrival) {
  if (Ending end = m_inner.read(m_frame, deadline, what, arrival)) return end;
  if (arrival->count == 0) return kGoOn;
  const size_t n = arrival->count;
  std::this_thread::sleep_until(arrival->waited ? m_fromHost.pass(LinkClock::now(), n) : m_fromHost.follow(n));
  m_fromHost.wokeAt(LinkClock::now());
  m_head = 0;
  m_tail = n;
  return kGoOn;
}

Ending PacedPort::write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) {
  if (!m_answering) m_answerNotBefore = m_fromHost.freeAt() + m_link.turnaround;
  m_answering = true;
  // A frame's worth at a time, each written when it has crossed the link.
  const size_t frame = m_link.bytesPerFrame();
  for (size_t done = 0; done < bytes.size();) {
    const size_t piece = std::min(frame, bytes.size() - done);
    std::this_thread::sleep_until(done == 0 ? m_toHost.pass(LinkClock::now(), piece, m_answerNotBefore)
                                            : m_toHost.follow(piece));
    m_toHost.wokeAt(LinkClock::now());
    if (Ending end = m_inner.write(bytes.subspan(done, piece), deadline)) return end;
    done += piece;
  }
  return kGoOn;
}

}  // namespace hxphone
