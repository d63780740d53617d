#include "pty_pair.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <stdexcept>

namespace hxtest {

PtyPair::PtyPair() {
  m_master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (m_master < 0 || grantpt(m_master) != 0 || unlockpt(m_master) != 0) throw std::runtime_error("posix_openpt");
  char name[128];
  if (ptsname_r(m_master, name, sizeof name) != 0) throw std::runtime_error("ptsname_r");
  m_slavePath = name;
  // Raw from the start, so nothing the test sends before the module opens the
  // port is echoed or translated.
  termios tio{};
  tcgetattr(m_master, &tio);
  cfmakeraw(&tio);
  tcsetattr(m_master, TCSANOW, &tio);
}

PtyPair::~PtyPair() { hangUp(); }

void PtyPair::send(const std::vector<uint8_t>& bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t w = ::write(m_master, bytes.data() + done, bytes.size() - done);
    if (w < 0 && errno == EINTR) continue;
    if (w <= 0) throw std::runtime_error("write to pty master");
    done += static_cast<size_t>(w);
  }
}

std::vector<uint8_t> PtyPair::receive(size_t n, int timeoutMs) {
  std::vector<uint8_t> out;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (out.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) break;
    pollfd p{m_master, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
    uint8_t buf[256];
    const size_t want = n - out.size() < sizeof buf ? n - out.size() : sizeof buf;
    const ssize_t r = ::read(m_master, buf, want);
    if (r > 0) out.insert(out.end(), buf, buf + r);
    else if (r < 0 && errno != EINTR && errno != EAGAIN) break;
  }
  return out;
}

void PtyPair::hangUp() {
  if (m_master >= 0) ::close(m_master);
  m_master = -1;
}

}  // namespace hxtest
