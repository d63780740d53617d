#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "serial/serial_link.h"
#include "serial/tty_posix.h"

namespace hx {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `end`, for poll(): at least 0.
int msUntil(Clock::time_point end) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(end - Clock::now()).count();
  if (left <= 0) return 0;
  return left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

// The descriptor is non-blocking; every wait is a poll() against a deadline of
// n + the time-out constant, as the link's time-outs are defined.
class SerialLink final : public Link {
 public:
  explicit SerialLink(int fd) : m_fd(fd) {}
  ~SerialLink() override { closeComTty(m_fd); }

  int write(const uint8_t* bytes, size_t n) override {
    const auto end = Clock::now() + std::chrono::milliseconds(n + m_writeMs);
    size_t done = 0;
    while (done < n) {
      const ssize_t w = ::write(m_fd, bytes + done, n - done);
      if (w > 0) {
        done += static_cast<size_t>(w);
        continue;
      }
      if (w < 0 && errno == EINTR) continue;
      if (w < 0 && errno != EAGAIN) return kLinkFailed;
      pollfd p{m_fd, POLLOUT, 0};
      const int wait = msUntil(end);
      const int r = wait > 0 ? ::poll(&p, 1, wait) : 0;
      if (r < 0 && errno == EINTR) continue;
      if (r < 0 || (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))) return kLinkFailed;
      if (r == 0) return done == 0 ? kLinkNothingWritten : kLinkFailed;
    }
    return drain(end);
  }

  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = 0;
    if (n == 0) return kLinkOk;
    const auto end = Clock::now() + std::chrono::milliseconds(n + m_readMs);
    while (*got < n) {
      const ssize_t r = ::read(m_fd, dest + *got, n - *got);
      if (r > 0) {
        *got += static_cast<size_t>(r);
        continue;
      }
      if (r == 0) return kLinkFailed;  // the other side hung up
      if (errno == EINTR) continue;
      if (errno != EAGAIN) return kLinkFailed;
      pollfd p{m_fd, POLLIN, 0};
      const int wait = msUntil(end);
      if (wait == 0) break;
      const int pr = ::poll(&p, 1, wait);
      if (pr < 0 && errno == EINTR) continue;
      if (pr < 0) return kLinkFailed;
      if (pr > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) return kLinkFailed;
    }
    if (*got == n) return kLinkOk;
    return *got == 0 ? kLinkNothingReceived : kLinkFailed;
  }

  int setTimeouts(uint32_t readMs, uint32_t writeMs) override {
    m_readMs = readMs;
    m_writeMs = writeMs;
    return kLinkOk;
  }

 private:
  // Returns once the driver has sent what was written, within the write's deadline.
  int drain(Clock::time_point end) {
    for (;;) {
      int queued = 0;
      if (ioctl(m_fd, TIOCOUTQ, &queued) != 0 || queued <= 0) return kLinkOk;
      if (msUntil(end) == 0) return kLinkFailed;
      ::usleep(1000);
    }
  }

  int m_fd;
  uint32_t m_readMs = 20;
  uint32_t m_writeMs = 5000;
};

}  // namespace

std::unique_ptr<Link> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why) {
  countLinkOpen();
  const int fd = openComTty(comPort, baud, why);
  if (fd < 0) return nullptr;
  return std::make_unique<SerialLink>(fd);
}

}  // namespace hx
