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
      m_transfer(kUsbTransferBytes) {}

// The phone takes what has crossed; when nothing has, the next frame of the
// transfer crosses first, and when the transfer is all taken, the next one
// is taken from below.
Ending PacedPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  m_answering = false;
  *arrival = {};
  if (m_head == m_filled) {
    if (m_endAfterTransfer) return m_endAfterTransfer;
    if (Ending end = takeTransfer(deadline, what, arrival)) return end;
    if (m_filled == 0) return kGoOn;
  }
  if (m_head == m_crossed) crossFrame();
  arrival->count = std::min(into.size(), m_crossed - m_head);
  std::memcpy(into.data(), m_transfer.data() + m_head, arrival->count);
  m_head += arrival->count;
  return kGoOn;
}

// One bulk transfer: the host's first bytes, waited for until the deadline,
// then what the layer below already holds behind them, up to the transfer
// buffer (the pty hands over at most its own buffer's worth per read).
Ending PacedPort::takeTransfer(ReadDeadline deadline, const char* what, Arrival* arrival) {
  m_head = m_crossed = m_filled = 0;
  if (Ending end = m_inner.read(m_transfer, deadline, what, arrival)) return end;
  m_filled = arrival->count;
  m_firstFrameWaited = arrival->waited;
  if (m_filled > 0) drainWaitingBytes(what);
  return kGoOn;
}

// Reads on without waiting while bytes are there and the buffer has room. An
// end met here is kept for when the bytes before it have been taken.
void PacedPort::drainWaitingBytes(const char* what) {
  while (m_filled < m_transfer.size()) {
    Arrival more;
    const std::span<uint8_t> room = std::span<uint8_t>(m_transfer).subspan(m_filled);
    if (Ending end = m_inner.read(room, LinkClock::now(), what, &more)) {
      m_endAfterTransfer = end;
      return;
    }
    if (more.count == 0) return;
    m_filled += more.count;
  }
}

// The next frame's worth of the transfer becomes the phone's once it has
// crossed: the transfer's first bytes start a run if the phone waited for
// them (unless the link is still busy); bytes that were waiting follow the
// ones before them.
void PacedPort::crossFrame() {
  const size_t n = std::min(m_link.bytesPerFrame(), m_filled - m_crossed);
  const bool opensTransfer = m_crossed == 0;
  std::this_thread::sleep_until(opensTransfer && m_firstFrameWaited ? m_fromHost.pass(LinkClock::now(), n)
                                                                    : m_fromHost.follow(n));
  m_fromHost.wokeAt(LinkClock::now());
  m_crossed += n;
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
