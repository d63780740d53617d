// The port manager on Windows. The Win32 serial device is not part of this
// build yet: every port is absent and every operation fails.
#include "serial/com_mngr.h"

namespace hx {

int CComMngr::OpenComPort(unsigned char port) {
  if (m_open) return 1;
  m_port = port;
  return Open();
}

int CComMngr::Open() { return 0; }

void CComMngr::Close() {}

int CComMngr::PurgeInput() { return 0; }

int CComMngr::PurgeAll() { return 0; }

int CComMngr::SetBaudRate(unsigned) { return 0; }

int CComMngr::Write(const void*, unsigned) { return 0; }

int CComMngr::Read(void*, unsigned) { return 0; }

int CComMngr::IsPortPresent(unsigned char) { return 0; }

}  // namespace hx
