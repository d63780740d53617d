#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <ctime>
#include <optional>
#include <string>
#include <thread>

#include "platform/log.h"
#include "link/output_drain.h"
#include "link/serial_link.h"
#include "link/tty_posix.h"

namespace hx {
namespace {

using Clock = std::chrono::steady_clock;

// What one attempt to take bytes from the device gave.
enum class Intake { Bytes, Empty, Failed };

// The tty's output queue for the drain after a write. Its pauses watch for the
// phone's answer meanwhile: an answer ends the drain (the phone has every
// byte) and is then read at once, without a poll before it.
class TtyOutputQueue final : public OutputQueue {
 public:
  explicit TtyOutputQueue(int fd) : m_fd(fd) {}

  // A port that hung up (a USB port whose phone was pulled) answers EIO.
  long queuedBytes() override {
    int queued = 0;
    if (ioctl(m_fd, TIOCOUTQ, &queued) == 0) return queued;
    if (errno == EIO || errno == ENXIO || errno == ENODEV) gone = true;
    return -1;
  }

  Clock::time_point now() override { return Clock::now(); }

  bool pause(std::chrono::microseconds span) override {
    pollfd p{m_fd, POLLIN, 0};
    const timespec wait{static_cast<time_t>(span.count() / 1'000'000),
                        static_cast<long>(span.count() % 1'000'000) * 1000};
    const int ready = ::ppoll(&p, 1, &wait, nullptr);
    // A USB port that hung up shows POLLIN with POLLHUP and has nothing to
    // read: the port is gone, which ends the drain. A pty whose phone left
    // may still hold its last answer: that is an answer.
    if (ready > 0 && (p.revents & (POLLHUP | POLLERR | POLLNVAL)) && !bytesWaiting()) {
      gone = true;
      return true;
    }
    if (ready > 0 && (p.revents & POLLIN)) {
      answered = true;
      return true;
    }
    // An interrupted or failed poll: the pause still lasts its span.
    if (ready != 0) std::this_thread::sleep_for(span);
    return false;
  }

  bool answered = false;
  bool gone = false;  // the port hung up or failed while it drained

 private:
  bool bytesWaiting() const {
    int waiting = 0;
    return ::ioctl(m_fd, FIONREAD, &waiting) == 0 && waiting > 0;
  }

  int m_fd;
};

// The descriptor is non-blocking; every wait is a poll() against a deadline of
// n + the time-out constant, as the link's time-outs are defined.
//
// Reads take whatever the device holds, up to a small receive buffer, so that
// an answer and the fields after it (an acknowledgement and a sum, say) cost
// one system call; later reads are served from that buffer first. A read that
// follows a write waits before it reads, unless the answer was seen to arrive
// while the write drained: otherwise it cannot be there yet, and an empty read
// of a tty is not free.
class SerialLink final : public SerialPortLink {
 public:
  SerialLink(int fd, uint32_t comPort) : m_fd(fd), m_comPort(comPort) {}
  ~SerialLink() override { closeComTty(m_fd, m_comPort); }

  int write(const uint8_t* bytes, size_t n) override {
    const auto end = Clock::now() + std::chrono::milliseconds(n + m_writeMs);
    if (m_unansweredWrite) m_answers.note(*m_unansweredWrite, false);
    m_unansweredWrite = n;
    m_replyAwaited = true;
    const TtyWriteResult written = writeTty(m_fd, bytes, n, end);
    if (written.end == TtyWriteEnd::Failed) return failed(deviceError(errno));
    if (written.end == TtyWriteEnd::TimedOut) {
      if (written.written == 0) return kLinkNothingWritten;
      return failed("the port took only " + std::to_string(written.written) + " of " + std::to_string(n) +
                    " bytes in time");
    }
    TtyOutputQueue queue(m_fd);
    const DrainStart start = m_answers.expectsAnswer(n) ? DrainStart::WatchForAnswer : DrainStart::LookAtQueue;
    const DrainEnd drained = drainOutput(queue, end, start);
    if (queue.gone) return failed(kHangUp);
    if (drained != DrainEnd::Drained)
      return failed("the port did not send " + std::to_string(n) + " bytes in time");
    if (queue.answered) answerArrived();
    return kLinkOk;
  }

  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = takeBuffered(dest, n);
    if (*got == n) return kLinkOk;
    const auto end = Clock::now() + std::chrono::milliseconds(n + m_readMs);
    bool waitFirst = m_replyAwaited && *got == 0;
    while (*got < n) {
      if (!waitFirst) {
        const Intake in = takeFromDevice(dest, n, got);
        if (in == Intake::Bytes) continue;
        if (in == Intake::Failed) return kLinkFailed;  // takeFromDevice said why
      }
      waitFirst = false;
      const int wait = msUntil(end);
      if (wait == 0) break;
      pollfd p{m_fd, POLLIN, 0};
      const int pr = ::poll(&p, 1, wait);
      if (pr < 0 && errno == EINTR) continue;
      if (pr < 0) return failed(deviceError(errno));
      if (pr > 0 && !(p.revents & POLLIN) && (p.revents & (POLLERR | POLLHUP | POLLNVAL)))
        return failed(p.revents & POLLHUP ? kHangUp : "the port went away (device error)");
    }
    if (*got == n) return kLinkOk;
    return *got == 0 ? kLinkNothingReceived : kLinkFailed;
  }

  // The bytes this link has buffered and those the tty holds (FIONREAD).
  size_t waiting() override {
    int queued = 0;
    if (::ioctl(m_fd, FIONREAD, &queued) != 0 || queued < 0) queued = 0;
    return (m_end - m_begin) + static_cast<size_t>(queued);
  }

  int setTimeouts(uint32_t readMs, uint32_t writeMs) override {
    m_readMs = readMs;
    m_writeMs = writeMs;
    return kLinkOk;
  }

  std::string failureDetail() const override { return m_failure; }

  int changeBaudRate(uint32_t baud) override {
    logMessageFor(m_comPort, "[com] Changing baudrate of the communication port: baudrate=%u\n", baud);
    return setTtyBaud(m_fd, baud) == 0 ? kLinkOk : kLinkFailed;
  }

 private:
  // Moves up to n buffered bytes to dest; returns how many.
  size_t takeBuffered(uint8_t* dest, size_t n) {
    const size_t count = std::min(n, m_end - m_begin);
    if (count == 0) return 0;
    std::memcpy(dest, m_buffer.data() + m_begin, count);
    m_begin += count;
    if (m_begin == m_end) m_begin = m_end = 0;
    return count;
  }

  // One read of the device for the rest of dest (*got of n placed so far): a
  // large rest straight into dest, a small one through the receive buffer, which
  // keeps what comes beyond it. A hang-up (end of file) or a device error fails.
  Intake takeFromDevice(uint8_t* dest, size_t n, size_t* got) {
    const size_t want = n - *got;
    const bool direct = want >= m_buffer.size();
    const ssize_t r = direct ? ::read(m_fd, dest + *got, want) : ::read(m_fd, m_buffer.data(), m_buffer.size());
    if (r > 0) {
      answerArrived();
      if (direct) {
        *got += static_cast<size_t>(r);
      } else {
        m_begin = 0;
        m_end = static_cast<size_t>(r);
        *got += takeBuffered(dest + *got, want);
      }
      return Intake::Bytes;
    }
    if (r == 0) {  // the other side hung up
      failed(kHangUp);
      return Intake::Failed;
    }
    if (errno == EINTR || errno == EAGAIN) return Intake::Empty;
    failed(deviceError(errno));
    return Intake::Failed;
  }

  // Remembers how the device failed; always kLinkFailed.
  int failed(std::string how) {
    m_failure = std::move(how);
    return kLinkFailed;
  }

  static std::string deviceError(int error) {
    if (error == EIO || error == ENXIO || error == ENODEV) return kHangUp;
    return std::string("the port went away (device error: ") + std::strerror(error) + ")";
  }

  // The phone has sent bytes since the last write.
  void answerArrived() {
    m_replyAwaited = false;
    if (m_unansweredWrite) m_answers.note(*m_unansweredWrite, true);
    m_unansweredWrite.reset();
  }

  static constexpr const char* kHangUp = "the port went away (hang-up)";

  int m_fd;
  uint32_t m_comPort;
  std::string m_failure = "the port failed";
  uint32_t m_readMs = 20;
  uint32_t m_writeMs = 5000;
  bool m_replyAwaited = false;  // a write came after the last bytes received
  std::optional<size_t> m_unansweredWrite;  // the size of the last write, until bytes come
  AnswerMemory m_answers;
  std::array<uint8_t, 4096> m_buffer{};
  size_t m_begin = 0;  // the unread bytes are m_buffer[m_begin, m_end)
  size_t m_end = 0;
};

}  // namespace

std::unique_ptr<SerialPortLink> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why) {
  const int fd = openComTty(comPort, baud, why);
  if (fd < 0) return nullptr;
  return std::make_unique<SerialLink>(fd, comPort);
}

}  // namespace hx
