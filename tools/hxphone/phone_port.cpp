#include "hxphone/phone_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

#include "hxphone/wire.h"

namespace hxphone {

namespace {
using Clock = std::chrono::steady_clock;
constexpr size_t kBufferSize = 1 << 16;
// Under the slow-link fault the phone reads in small pieces, so the host's
// writes back up the way they would on a slow line.
constexpr size_t kSlowReadPiece = 256;
constexpr auto kAbsentHostPoll = std::chrono::milliseconds(5);
// A host that never stops sending is still checked for a stop now and then.
constexpr unsigned kReadsBetweenStopChecks = 64;
}  // namespace

PhonePort::PhonePort(int fd, int stopFd, PortTiming timing, const FaultPlan& faults, LinkTurns* turns)
    : m_fd(fd), m_stopFd(stopFd), m_timing(timing), m_faults(faults), m_turns(turns), m_buffer(kBufferSize) {
  if (m_timing.pacedLink) {
    // A link idle for less than a frame has not paused.
    m_fromHost.emplace(m_timing.pacedLink->bytesPerSecond, m_timing.pacedLink->frame);
    m_toHost.emplace(m_timing.pacedLink->bytesPerSecond, m_timing.pacedLink->frame);
  }
}

bool PhonePort::stopRequested() const {
  if (m_stopFd < 0) return false;
  pollfd p{m_stopFd, POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

namespace {
const SessionEnd kStopped{Outcome::Stopped, "stopped by its owner"};
}  // namespace

// Waits until bytes are in the buffer; `filled` is false when the deadline passed.
// While the host is sending (the last read brought bytes and the phone has
// not answered since) the descriptor is read at once: the rest of a packet is
// usually there, and a wait first would cost a call and a wake-up per piece.
// Otherwise the phone waits first: after an answer the host has yet to speak.
Ending PhonePort::fill(std::optional<Clock::time_point> deadline, const char* what, bool* filled) {
  bool waited = false;
  *filled = true;
  while (m_head == m_tail) {
    m_head = m_tail = 0;
    bool got = false;
    if (m_hostSending) {
      if (Ending end = readAvailable(what, waited, &got)) return end;
      if (got) break;
    }
    m_hostSending = true;
    bool ready = false;
    if (Ending end = waitReadable(deadline, &ready)) return end;
    if (!ready) {
      *filled = false;
      return kGoOn;
    }
    waited = true;
  }
  return kGoOn;
}

// Reads what the descriptor holds; `got` is false when it holds nothing yet.
// `waited`: the phone had to wait for these bytes, so the link may have stood idle.
Ending PhonePort::readAvailable(const char* what, bool waited, bool* got) {
  *got = false;
  if (++m_readsSinceWait >= kReadsBetweenStopChecks) {
    m_readsSinceWait = 0;
    if (stopRequested()) return kStopped;
  }
  size_t piece = m_buffer.size();
  if (m_timing.pacedLink) piece = std::min(piece, m_timing.pacedLink->bytesPerFrame());
  if (m_faults.linkBytesPerSecond) piece = std::min(piece, kSlowReadPiece);
  ssize_t n = ::read(m_fd, m_buffer.data(), piece);
  if (n > 0) {
    paceArrival(static_cast<size_t>(n), waited);
    m_tail = static_cast<size_t>(n);
    m_hostSeen = true;
    noiseOnBuffered();
    *got = true;
    return kGoOn;
  }
  m_hostSending = false;
  if (n == 0) return SessionEnd{Outcome::HostGone, std::string("host closed the port while waiting for ") + what};
  if (errno == EAGAIN || errno == EINTR) return kGoOn;
  if (!m_hostSeen && (errno == EIO)) {
    // Nobody has the port open yet.
    std::this_thread::sleep_for(kAbsentHostPoll);
    return kGoOn;
  }
  return SessionEnd{Outcome::HostGone, std::string("host hung up while waiting for ") + what};
}

// Waits for the descriptor to become readable, at most until the deadline (a
// second at a time). `ready` is false when the deadline has passed.
Ending PhonePort::waitReadable(std::optional<Clock::time_point> deadline, bool* ready) {
  *ready = true;
  int timeoutMs = 1000;
  if (deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - Clock::now()).count();
    if (left <= 0) {
      *ready = false;
      return kGoOn;
    }
    timeoutMs = static_cast<int>(std::min<long long>(left + 1, 1000));
  }
  m_readsSinceWait = 0;
  pollfd fds[2] = {{m_fd, POLLIN, 0}, {m_stopFd, POLLIN, 0}};
  int n = ::poll(fds, m_stopFd >= 0 ? 2 : 1, timeoutMs);
  if (n < 0 && errno != EINTR) return SessionEnd{Outcome::HostGone, std::string("poll failed: ") + std::strerror(errno)};
  if (n > 0 && m_stopFd >= 0 && (fds[1].revents & POLLIN)) return kStopped;
  return kGoOn;
}

Ending PhonePort::take(size_t n) {
  m_head += n;
  m_received += n;
  if (m_turns) m_turns->hostBytesTaken(n, Clock::now());
  if (m_faults.unplugAfterBytes && m_received >= *m_faults.unplugAfterBytes)
    return SessionEnd{Outcome::Unplugged, "unplugged after " + std::to_string(m_received) + " bytes from the host"};
  return unplugWhenDue();
}

Ending PhonePort::stepBegins(const std::string& step, uint32_t occurrence) {
  if (occurrence != 1) return kGoOn;
  if (m_faults.noiseIn.step == step) m_noiseInAt = m_received + m_faults.noiseIn.offset;
  if (m_faults.noiseOut.step == step) m_noiseOutAt = m_sent + m_faults.noiseOut.offset;
  if (m_faults.unplugIn.step == step) m_unplugAt = m_received + m_sent + m_faults.unplugIn.offset;
  noiseOnBuffered();
  return unplugWhenDue();
}

void PhonePort::strike() {
  if (!m_inStepStruck) m_inStepStruck = Clock::now();
}

// The buffered host bytes are m_received onwards: the armed one among them
// is inverted, as line noise would have turned it.
void PhonePort::noiseOnBuffered() {
  if (!m_noiseInAt || *m_noiseInAt < m_received || *m_noiseInAt - m_received >= m_tail - m_head) return;
  m_buffer[m_head + static_cast<size_t>(*m_noiseInAt - m_received)] ^= 0xFF;
  m_noiseInAt.reset();
  strike();
}

Ending PhonePort::unplugWhenDue() {
  if (!m_unplugAt || m_received + m_sent < *m_unplugAt) return kGoOn;
  strike();
  return SessionEnd{Outcome::Unplugged,
                    "unplugged " + std::to_string(m_faults.unplugIn.offset) + " bytes into step " + m_faults.unplugIn.step};
}

void PhonePort::turnaround(Direction to) {
  if (m_direction != to && m_direction != Direction::None && m_faults.turnaroundLatencyMs > 0)
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(m_faults.turnaroundLatencyMs));
  if (m_toHost && m_direction == Direction::FromHost && to == Direction::ToHost)
    m_answerNotBefore = m_fromHost->freeAt() + m_timing.pacedLink->turnaround;
  m_direction = to;
}

// Bytes read from the descriptor on a paced link are the phone's once they
// have crossed it. Bytes that were waiting follow the ones before them.
void PhonePort::paceArrival(size_t n, bool waited) {
  if (!m_fromHost) return;
  std::this_thread::sleep_until(waited ? m_fromHost->pass(Clock::now(), n) : m_fromHost->follow(n));
  m_fromHost->wokeAt(Clock::now());
}

void PhonePort::throttle(size_t n) {
  if (!m_faults.linkBytesPerSecond) return;
  auto now = Clock::now();
  if (m_linkFreeAt < now) m_linkFreeAt = now;
  m_linkFreeAt += std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double>(static_cast<double>(n) / m_faults.linkBytesPerSecond));
  std::this_thread::sleep_until(m_linkFreeAt);
}

Ending PhonePort::readBytes(uint8_t* dest, size_t n, const char* what) {
  turnaround(Direction::FromHost);
  size_t done = 0;
  while (done < n) {
    bool filled = false;
    if (Ending end = fill(Clock::now() + m_timing.silenceLimit, what, &filled)) return end;
    if (!filled)
      return SessionEnd{Outcome::HostGone, std::string("host silent for ") +
                                               std::to_string(m_timing.silenceLimit.count()) + " ms, expected " + what};
    size_t piece = std::min(n - done, m_tail - m_head);
    std::memcpy(dest + done, m_buffer.data() + m_head, piece);
    done += piece;
    throttle(piece);
    if (Ending end = take(piece)) return end;
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
  turnaround(Direction::FromHost);
  bool filled = false;
  if (Ending end = fill(std::nullopt, "the host", &filled)) return end;
  *value = m_buffer[m_head];
  throttle(1);
  return take(1);
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
  turnaround(Direction::ToHost);
  m_hostSending = false;
  std::vector<uint8_t> noisy;
  if (m_noiseOutAt && *m_noiseOutAt >= m_sent && *m_noiseOutAt - m_sent < n) {
    noisy.assign(bytes, bytes + n);
    noisy[static_cast<size_t>(*m_noiseOutAt - m_sent)] ^= 0xFF;
    bytes = noisy.data();
    m_noiseOutAt.reset();
    strike();
  }
  auto deadline = Clock::now() + m_timing.silenceLimit;
  if (!m_toHost) return sendPiece(bytes, n, deadline);
  // A frame's worth at a time, each written when it has crossed the link.
  const size_t frame = m_timing.pacedLink->bytesPerFrame();
  for (size_t done = 0; done < n;) {
    size_t piece = std::min(frame, n - done);
    std::this_thread::sleep_until(done == 0 ? m_toHost->pass(Clock::now(), piece, m_answerNotBefore)
                                            : m_toHost->follow(piece));
    m_toHost->wokeAt(Clock::now());
    if (Ending end = sendPiece(bytes + done, piece, deadline)) return end;
    done += piece;
  }
  return kGoOn;
}

Ending PhonePort::sendPiece(const uint8_t* bytes, size_t n, Clock::time_point deadline) {
  size_t done = 0;
  while (done < n) {
    size_t piece = n - done;
    if (m_unplugAt) {
      if (Ending end = unplugWhenDue()) return end;
      piece = std::min<uint64_t>(piece, *m_unplugAt - (m_received + m_sent));
    }
    ssize_t put = writeSome(bytes + done, piece);
    if (put > 0) {
      throttle(static_cast<size_t>(put));
      done += static_cast<size_t>(put);
      m_sent += static_cast<uint64_t>(put);
      if (m_turns) m_turns->phoneBytesSent(static_cast<size_t>(put), Clock::now());
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN)
      return SessionEnd{Outcome::HostGone, std::string("write failed: ") + std::strerror(errno)};
    if (Clock::now() >= deadline) return SessionEnd{Outcome::HostGone, "host stopped reading"};
    pollfd fds[2] = {{m_fd, POLLOUT, 0}, {m_stopFd, POLLIN, 0}};
    ::poll(fds, m_stopFd >= 0 ? 2 : 1, 100);
    if (m_stopFd >= 0 && (fds[1].revents & POLLIN)) return kStopped;
  }
  return unplugWhenDue();
}

// A socket is written without SIGPIPE when the host has gone; anything else
// (a pty master) with plain write.
long PhonePort::writeSome(const uint8_t* bytes, size_t n) {
  if (m_isSocket) {
    ssize_t put = ::send(m_fd, bytes, n, MSG_NOSIGNAL);
    if (put >= 0 || errno != ENOTSOCK) return put;
    m_isSocket = false;
  }
  return ::write(m_fd, bytes, n);
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
