// The port manager on Windows: the overlapped port of overlapped_port.cpp on
// the Win32 system. A port that has gone is closed by the port itself; the
// manager's open flag follows it after every call.
#include "ports/com_mngr.h"
#include "ports/overlapped_port.h"
#include "ports/port_enumeration.h"

namespace hx {

struct CComMngr::Device {
  OverlappedPort port{makeWin32SerialSystem()};
};

CComMngr::CComMngr() : m_device(std::make_unique<Device>()) {}

CComMngr::~CComMngr() { Close(); }

intptr_t CComMngr::GetHandle() { return static_cast<intptr_t>(m_device->port.handle()); }

int CComMngr::OpenComPort(unsigned char port) {
  if (!m_open) m_port = port;
  const int opened = m_device->port.openComPort(m_port);
  m_open = m_device->port.isOpen() ? 1 : 0;
  return opened;
}

int CComMngr::Open() {
  if (m_open) return 0;
  const int opened = m_device->port.open(m_port);
  m_open = m_device->port.isOpen() ? 1 : 0;
  return opened;
}

void CComMngr::Close() {
  m_device->port.close();
  m_open = 0;
}

int CComMngr::PurgeInput() { return m_device->port.purgeInput(); }

int CComMngr::PurgeAll() { return m_device->port.purgeAll(); }

int CComMngr::SetLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits, int) {
  return m_device->port.setLineState(baud, byteSize, parity, stopBits);
}

int CComMngr::SetDtr(int on) { return m_device->port.setDtr(on); }

int CComMngr::SetBaudRate(unsigned baud) { return m_device->port.setBaudRate(baud); }

int CComMngr::Write(const void* data, unsigned count) {
  const int written = m_device->port.write(data, count);
  m_open = m_device->port.isOpen() ? 1 : 0;
  return written;
}

int CComMngr::Read(void* buffer, unsigned count) {
  const int got = m_device->port.read(buffer, count);
  m_open = m_device->port.isOpen() ? 1 : 0;
  return got;
}

// A port is present when the phone ports the system lists now hold its
// number; the enumeration's failures go through to the caller.
int CComMngr::IsPortPresent(unsigned char port) {
  SerInfoList phonePorts;
  EnumerateSerialPorts(phonePorts, 0, 0, 0);
  for (const SSerInfo& phonePort : phonePorts) {
    if (phonePort.portNumber == port) return 1;
  }
  return 0;
}

}  // namespace hx
