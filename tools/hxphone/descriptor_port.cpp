#include "hxphone/descriptor_port.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <thread>

namespace hxphone {

namespace {
constexpr auto kAbsentHostPoll = std::chrono::milliseconds(5);
// A host that never stops sending is still checked for a stop now and then.
constexpr unsigned kReadsBetweenStopChecks = 64;
constexpr int kLongestPollMs = 1000;
constexpr int kWritablePollMs = 100;
const SessionEnd kStopped{Outcome::Stopped, "stopped by its owner"};
}  // namespace

DescriptorPort::DescriptorPort(int fd, const StopSignal* stop) : m_fd(fd), m_stop(stop) {}

// While the host is sending (the last read brought bytes and the phone has
// not answered since) the descriptor is read at once: the rest of a packet is
// usually there, and a wait first would cost a call and a wake-up per piece.
// Otherwise the phone waits first: after an answer the host has yet to speak.
Ending DescriptorPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  *arrival = {};
  for (;;) {
    if (m_hostSending) {
      if (Ending end = readAvailable(into, what, &arrival->count)) return end;
      if (arrival->count > 0) return kGoOn;
    }
    m_hostSending = true;
    bool ready = false;
    if (Ending end = waitReadable(deadline, &ready)) return end;
    if (!ready) return kGoOn;
    arrival->waited = true;
  }
}

// Reads what the descriptor holds; `got` is 0 when it holds nothing yet.
Ending DescriptorPort::readAvailable(std::span<uint8_t> into, const char* what, size_t* got) {
  *got = 0;
  if (++m_readsSinceWait >= kReadsBetweenStopChecks) {
    m_readsSinceWait = 0;
    if (stopRequested()) return kStopped;
  }
  ssize_t n = ::read(m_fd, into.data(), into.size());
  if (n > 0) {
    m_hostSeen = true;
    *got = static_cast<size_t>(n);
    return kGoOn;
  }
  m_hostSending = false;
  if (n == 0) return SessionEnd{Outcome::HostGone, std::string("host closed the port while waiting for ") + what};
  if (errno == EAGAIN || errno == EINTR) return kGoOn;
  if (!m_hostSeen && errno == EIO) {
    // Nobody has the port open yet.
    std::this_thread::sleep_for(kAbsentHostPoll);
    return kGoOn;
  }
  return SessionEnd{Outcome::HostGone, std::string("host hung up while waiting for ") + what};
}

// Waits for the descriptor to become readable, at most until the deadline (a
// second at a time); `ready` is false when the deadline has passed.
Ending DescriptorPort::waitReadable(ReadDeadline deadline, bool* ready) {
  *ready = true;
  int timeoutMs = kLongestPollMs;
  if (deadline) {
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline - LinkClock::now()).count();
    if (left <= 0) {
      *ready = false;
      return kGoOn;
    }
    timeoutMs = static_cast<int>(std::min<long long>(left + 1, kLongestPollMs));
  }
  m_readsSinceWait = 0;
  pollfd fds[2] = {{m_fd, POLLIN, 0}, {stopFd(), POLLIN, 0}};
  int n = ::poll(fds, m_stop ? 2 : 1, timeoutMs);
  if (n < 0 && errno != EINTR) return SessionEnd{Outcome::HostGone, std::string("poll failed: ") + std::strerror(errno)};
  if (n > 0 && m_stop && (fds[1].revents & POLLIN)) return kStopped;
  return kGoOn;
}

Ending DescriptorPort::write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) {
  m_hostSending = false;
  size_t done = 0;
  while (done < bytes.size()) {
    ssize_t put = writeSome(bytes.data() + done, bytes.size() - done);
    if (put > 0) {
      done += static_cast<size_t>(put);
      continue;
    }
    if (put < 0 && errno == EINTR) continue;
    if (put < 0 && errno != EAGAIN)
      return SessionEnd{Outcome::HostGone, std::string("write failed: ") + std::strerror(errno)};
    if (Ending end = waitWritable(deadline)) return end;
  }
  return kGoOn;
}

// The host has not taken what the phone wrote: wait a little for room.
Ending DescriptorPort::waitWritable(LinkClock::time_point deadline) {
  if (LinkClock::now() >= deadline) return SessionEnd{Outcome::HostGone, "host stopped reading"};
  pollfd fds[2] = {{m_fd, POLLOUT, 0}, {stopFd(), POLLIN, 0}};
  ::poll(fds, m_stop ? 2 : 1, kWritablePollMs);
  if (m_stop && (fds[1].revents & POLLIN)) return kStopped;
  return kGoOn;
}

// A socket is written without SIGPIPE when the host has gone; anything else
// (a pty master) with plain write.
long DescriptorPort::writeSome(const uint8_t* bytes, size_t n) {
  if (m_isSocket) {
    ssize_t put = ::send(m_fd, bytes, n, MSG_NOSIGNAL);
    if (put >= 0 || errno != ENOTSOCK) return put;
    m_isSocket = false;
  }
  return ::write(m_fd, bytes, n);
}

}  // namespace hxphone
