#include "link/tty_posix.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstring>

#include "link/port_names.h"

namespace hx {
namespace {

speed_t speedFor(uint32_t baud) {
  switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    case 230400: return B230400;
    case 460800: return B460800;
    case 921600: return B921600;
    default: return B0;
  }
}

// Modem-line requests that a device does not support are not errors: a pty
// answers ENOTTY or EINVAL, a USB modem (cdc-acm) whose device does not
// declare break signalling EOPNOTSUPP to clearing break.
bool unsupported(int err) { return err == ENOTTY || err == EINVAL || err == EOPNOTSUPP; }

bool configureRaw(int fd, uint32_t baud, std::string* why) {
  const speed_t speed = speedFor(baud);
  if (speed == B0) {
    *why = "unsupported baud rate " + std::to_string(baud);
    return false;
  }
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) {
    *why = std::string("tcgetattr: ") + std::strerror(errno);
    return false;
  }
  cfmakeraw(&tio);
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  // With the descriptor non-blocking, VMIN 1 makes a read with nothing queued
  // fail with EAGAIN, so a read of 0 bytes means the device hung up.
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  if (tcsetattr(fd, TCSANOW, &tio) != 0) {
    *why = std::string("tcsetattr: ") + std::strerror(errno);
    return false;
  }
  int lines = TIOCM_DTR | TIOCM_RTS;
  if (ioctl(fd, TIOCMBIS, &lines) != 0 && !unsupported(errno)) {
    *why = std::string("raising DTR/RTS: ") + std::strerror(errno);
    return false;
  }
  if (ioctl(fd, TIOCCBRK) != 0 && !unsupported(errno)) {
    *why = std::string("clearing break: ") + std::strerror(errno);
    return false;
  }
  tcflush(fd, TCIOFLUSH);
  return true;
}

}  // namespace

int openComTty(uint32_t comPort, uint32_t baud, std::string* why) {
  std::string reason;
  const std::string path = comPortDevicePath(comPort, &reason);
  if (path.empty()) {
    if (why) *why = reason;
    return -1;
  }
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    if (why) *why = path + ": " + std::strerror(errno);
    return -1;
  }
  // No sharing: an advisory lock every opener of the module takes, plus the
  // tty's own exclusive mode for other programs.
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    if (why) *why = path + " is in use";
    ::close(fd);
    return -1;
  }
  if (ioctl(fd, TIOCEXCL) != 0 && !unsupported(errno)) {
    if (why) *why = path + ": exclusive mode: " + std::strerror(errno);
    ::close(fd);
    return -1;
  }
  if (!configureRaw(fd, baud, &reason)) {
    if (why) *why = path + ": " + reason;
    closeComTty(fd, comPort);
    return -1;
  }
  return fd;
}

int setTtyBaud(int fd, uint32_t baud) {
  const speed_t speed = speedFor(baud);
  termios tio{};
  if (speed == B0 || tcgetattr(fd, &tio) != 0) return -1;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : -1;
}

int setTtyLine(int fd, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  static constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  static constexpr tcflag_t kParities[] = {0, PARENB | PARODD, PARENB, PARENB | PARODD | CMSPAR, PARENB | CMSPAR};
  const speed_t speed = speedFor(baud);
  if (speed == B0 || byteSize < 5 || byteSize > 8 || parity > 4 || (stopBits != 0 && stopBits != 2)) return -1;
  termios tio{};
  if (tcgetattr(fd, &tio) != 0) return -1;
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= kSizes[byteSize - 5] | kParities[parity] | (stopBits == 2 ? CSTOPB : 0);
  tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  if (parity == 0) {
    tio.c_iflag &= ~static_cast<tcflag_t>(INPCK);
  } else {
    tio.c_iflag |= INPCK;
  }
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;
  cfsetispeed(&tio, speed);
  cfsetospeed(&tio, speed);
  return tcsetattr(fd, TCSANOW, &tio) == 0 ? 0 : -1;
}

void setTtyDtr(int fd, bool on) {
  int line = TIOCM_DTR;
  ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &line);
}

int msUntil(std::chrono::steady_clock::time_point deadline) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()).count();
  if (left <= 0) return 0;
  return left > INT32_MAX ? INT32_MAX : static_cast<int>(left);
}

TtyWriteResult writeTty(int fd, const uint8_t* bytes, size_t n, std::chrono::steady_clock::time_point deadline) {
  size_t done = 0;
  while (done < n) {
    const ssize_t w = ::write(fd, bytes + done, n - done);
    if (w > 0) {
      done += static_cast<size_t>(w);
      // A short write means the driver's buffer is full: wait for room at
      // once rather than ask again for an EAGAIN.
      if (done == n) break;
    } else if (w < 0 && errno == EINTR) {
      continue;
    } else if (w < 0 && errno != EAGAIN) {
      return {TtyWriteEnd::Failed, done};
    }
    pollfd p{fd, POLLOUT, 0};
    const int wait = msUntil(deadline);
    const int r = wait > 0 ? ::poll(&p, 1, wait) : 0;
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) return {TtyWriteEnd::Failed, done};
    if (r > 0 && (p.revents & (POLLERR | POLLHUP | POLLNVAL))) {
      errno = EIO;  // the port hung up: what a write to it would now give
      return {TtyWriteEnd::Failed, done};
    }
    if (r == 0) return {TtyWriteEnd::TimedOut, done};
  }
  return {TtyWriteEnd::Done, done};
}

}  // namespace hx
