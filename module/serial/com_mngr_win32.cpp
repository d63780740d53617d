// The port manager on Windows: an overlapped communications handle with one
// request record and one manual-reset event for reads and one for writes.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>

#include "platform/clock.h"
#include "serial/com_mngr.h"
#include "serial/port_enumeration.h"
#include "serial/port_open_observer.h"

namespace hx {
namespace {

constexpr DWORD kRxFlagMask = EV_RXFLAG;
constexpr DWORD kQueueBytes = 0x20000;
constexpr DWORD kWriteTimeoutMs = 10000;
constexpr DWORD kReadWaitMs = 3000;
constexpr unsigned kLineBaud = 19200;
constexpr uint32_t kGoneAfterErrorFlagsPauseMs = 1000;
constexpr uint32_t kGoneAfterReadPauseMs = 2000;

// The device has gone (unplugged while open).
bool deviceGone(DWORD error) { return error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE; }

}  // namespace

struct CComMngr::Device {
  OVERLAPPED readRequest{};
  OVERLAPPED writeRequest{};
  DCB line{};
  HANDLE handle = nullptr;
  HANDLE readEvent = nullptr;
  HANDLE writeEvent = nullptr;

  // Clears the port's error state; the error flags it held.
  DWORD clearErrors(COMSTAT* status = nullptr) const {
    DWORD flags = 0;
    ClearCommError(handle, &flags, status);
    return flags;
  }
};

CComMngr::CComMngr() : m_device(std::make_unique<Device>()) {}

CComMngr::~CComMngr() { Close(); }

intptr_t CComMngr::GetHandle() { return reinterpret_cast<intptr_t>(m_device->handle); }

int CComMngr::OpenComPort(unsigned char port) {
  if (m_open) return 1;
  m_port = port;
  if (!Open()) return 0;
  return SetCommMask(m_device->handle, kRxFlagMask) ? 1 : 0;
}

int CComMngr::Open() {
  if (m_open) return 0;
  notePortOpen(PortOpenPurpose::PresenceProbe);
  Device& d = *m_device;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(m_port));
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL, nullptr);
  d.handle = handle;
  if (handle == INVALID_HANDLE_VALUE) {
    m_open = 0;
    return 0;
  }
  m_open = 1;
  if (!SetCommMask(handle, kRxFlagMask)) {
    m_open = 0;
    CloseHandle(handle);
    d.handle = nullptr;
    return 0;
  }
  SetupComm(handle, kQueueBytes, kQueueBytes);
  // A read returns at once with what has been received.
  COMMTIMEOUTS timeouts{};
  timeouts.ReadIntervalTimeout = MAXDWORD;
  timeouts.ReadTotalTimeoutMultiplier = 0;
  timeouts.ReadTotalTimeoutConstant = 0;
  timeouts.WriteTotalTimeoutMultiplier = 0;
  timeouts.WriteTotalTimeoutConstant = kWriteTimeoutMs;
  SetCommTimeouts(handle, &timeouts);
  if (!SetLineState(kLineBaud, 8, NOPARITY, ONESTOPBIT, 0)) {
    m_open = 0;
    CloseHandle(handle);
    d.handle = nullptr;
    return 0;
  }
  SetDtr(1);
  d.readEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  d.writeEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  d.readRequest = OVERLAPPED{};
  d.writeRequest = OVERLAPPED{};
  d.readRequest.hEvent = d.readEvent;
  d.writeRequest.hEvent = d.writeEvent;
  if (!d.readEvent || !d.writeEvent) {  // no request can be waited for without them
    Close();
    return 0;
  }
  PurgeInput();
  return 1;
}

void CComMngr::Close() {
  if (!m_open) return;
  Device& d = *m_device;
  m_open = 0;
  SetCommMask(d.handle, 0);
  SetDtr(0);
  PurgeComm(d.handle, PURGE_RXABORT | PURGE_RXCLEAR);
  CloseHandle(d.handle);
  if (d.readEvent) CloseHandle(d.readEvent);
  if (d.writeEvent) CloseHandle(d.writeEvent);
  d.handle = nullptr;
  d.readEvent = nullptr;
  d.writeEvent = nullptr;
}

int CComMngr::PurgeInput() { return PurgeComm(m_device->handle, PURGE_RXABORT | PURGE_RXCLEAR); }

int CComMngr::PurgeAll() {
  return PurgeComm(m_device->handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR);
}

int CComMngr::SetLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits, int) {
  DCB& line = m_device->line;
  line.DCBlength = sizeof line;
  GetCommState(m_device->handle, &line);
  line.BaudRate = baud;
  line.ByteSize = byteSize;
  line.Parity = parity;
  line.StopBits = stopBits;
  line.XonLim = 100;
  line.XoffLim = 100;
  line.XonChar = 0x11;
  line.XoffChar = 0x13;
  line.fBinary = TRUE;
  line.fParity = TRUE;
  line.fOutxCtsFlow = FALSE;
  line.fOutxDsrFlow = FALSE;
  line.fDtrControl = DTR_CONTROL_ENABLE;
  line.fOutX = FALSE;
  line.fInX = FALSE;
  line.fRtsControl = RTS_CONTROL_ENABLE;
  line.fAbortOnError = TRUE;
  return SetCommState(m_device->handle, &line);
}

int CComMngr::SetDtr(int on) {
  if (m_device->line.fDtrControl == DTR_CONTROL_HANDSHAKE) return kDtrHandshake;
  EscapeCommFunction(m_device->handle, on ? SETDTR : CLRDTR);
  return 0;
}

int CComMngr::SetBaudRate(unsigned baud) {
  DCB& line = m_device->line;
  line.DCBlength = sizeof line;
  GetCommState(m_device->handle, &line);
  line.BaudRate = baud;
  return SetCommState(m_device->handle, &line);
}

int CComMngr::Write(const void* data, unsigned count) {
  if (!m_open) return 0;
  Device& d = *m_device;
  DWORD written = 0;
  const BOOL done = WriteFile(d.handle, data, count, &written, &d.writeRequest);
  if (done) return done;
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    // Bounded by the write time-out of 10 s set when the port opened.
    if (GetOverlappedResult(d.handle, &d.writeRequest, &written, TRUE)) {
      d.clearErrors();
      return 1;
    }
    if (GetLastError() == ERROR_IO_INCOMPLETE) return 0;
    d.clearErrors();
    return 0;
  }
  if (error == 0) return 0;
  if (deviceGone(error)) {
    Close();
    return 0;
  }
  d.clearErrors();
  return 0;
}

// Takes at most what is already queued, and never leaves a request pending:
// the caller's buffer is not written after Read returns.
int CComMngr::Read(void* buffer, unsigned count) {
  if (!m_open) return 0;
  Device& d = *m_device;
  COMSTAT status{};
  const DWORD flags = d.clearErrors(&status);
  if (flags != 0) {
    if (deviceGone(GetLastError())) {
      Close();
      sleepMs(kGoneAfterErrorFlagsPauseMs);
    }
    return 0;
  }
  const DWORD wanted = count < status.cbInQue ? count : status.cbInQue;
  if (wanted == 0) return 0;
  DWORD got = 0;
  if (ReadFile(d.handle, buffer, wanted, &got, &d.readRequest)) return static_cast<int>(got);
  const DWORD error = GetLastError();
  if (error == ERROR_IO_PENDING) {
    if (WaitForSingleObject(d.readEvent, kReadWaitMs) == WAIT_OBJECT_0) {
      if (!GetOverlappedResult(d.handle, &d.readRequest, &got, FALSE)) {
        // A read that ended by its time-out with nothing is 0 bytes.
        return 0;
      }
      d.clearErrors();
      return static_cast<int>(got);
    }
    // Not done in time: cancel it and wait until the driver lets go of the buffer.
    CancelIoEx(d.handle, &d.readRequest);
    GetOverlappedResult(d.handle, &d.readRequest, &got, TRUE);
    d.clearErrors();
    return 0;
  }
  if (d.clearErrors() != 0 && deviceGone(error)) {
    sleepMs(kGoneAfterReadPauseMs);
    Close();
  }
  return 0;
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
