#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "ports/com_mngr.h"
#include "link/port_names.h"
#include "link/tty_posix.h"

namespace hx {
namespace {
constexpr uint32_t kLineBaud = 19200;
constexpr int kWriteTimeoutMs = 10000;
}  // namespace

// A tty has no DTR handshake mode: SetDtr always sends.
struct CComMngr::Device {
  int fd = -1;
};

CComMngr::CComMngr() : m_device(std::make_unique<Device>()) {}

CComMngr::~CComMngr() { Close(); }

intptr_t CComMngr::GetHandle() { return m_device->fd; }

int CComMngr::OpenComPort(unsigned char port) {
  if (m_open) return 1;
  m_port = port;
  return Open();
}

int CComMngr::Open() {
  if (m_open) return 0;
  const int fd = openComTty(m_port, kLineBaud, nullptr);
  if (fd < 0) {
    m_device->fd = -1;
    return 0;
  }
  m_device->fd = fd;
  m_open = 1;
  if (!SetLineState(kLineBaud, 8, kNoParity, kOneStopBit, 0)) {
    m_open = 0;
    closeComTty(fd, m_port);
    m_device->fd = -1;
    return 0;
  }
  SetDtr(1);
  PurgeInput();
  return 1;
}

void CComMngr::Close() {
  if (!m_open) return;
  m_open = 0;
  SetDtr(0);
  tcflush(m_device->fd, TCIFLUSH);
  closeComTty(m_device->fd, m_port);
  m_device->fd = -1;
}

int CComMngr::PurgeInput() { return m_open && tcflush(m_device->fd, TCIFLUSH) == 0 ? 1 : 0; }

int CComMngr::PurgeAll() { return m_open && tcflush(m_device->fd, TCIOFLUSH) == 0 ? 1 : 0; }

int CComMngr::SetBaudRate(unsigned baud) { return m_open && setTtyBaud(m_device->fd, baud) == 0 ? 1 : 0; }

int CComMngr::SetLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits, int) {
  return m_device->fd >= 0 && setTtyLine(m_device->fd, baud, byteSize, parity, stopBits) == 0 ? 1 : 0;
}

int CComMngr::SetDtr(int on) {
  if (m_device->fd >= 0) setTtyDtr(m_device->fd, on != 0);
  return 0;
}

int CComMngr::Write(const void* data, unsigned count) {
  if (!m_open) return 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(kWriteTimeoutMs);
  const TtyWriteResult written = writeTty(m_device->fd, static_cast<const uint8_t*>(data), count, end);
  if (written.end == TtyWriteEnd::Failed) Close();  // the device has gone
  return written.end == TtyWriteEnd::Done ? 1 : 0;
}

// Returns what is already received, at most `count` bytes, without waiting.
int CComMngr::Read(void* buffer, unsigned count) {
  if (!m_open || count == 0) return 0;
  for (;;) {
    const ssize_t r = ::read(m_device->fd, buffer, count);
    if (r > 0) return static_cast<int>(r);
    if (r < 0 && errno == EINTR) continue;
    if (r == 0 || errno != EAGAIN) Close();  // hung up or failed: the device has gone
    return 0;
  }
}

// A phone's port is present when its entry in the ports directory names a
// character device. The directory holds the phones' ports only, and there is
// no device name to filter by: a pty has no USB product name, and counts.
int CComMngr::IsPortPresent(unsigned char port) { return comPortDevicePath(port, nullptr).empty() ? 0 : 1; }

}  // namespace hx
