#include "ports/overlapped_port.h"

#include <cstdio>
#include <string>

namespace hx {
namespace {

constexpr uint32_t kQueueBytes = 0x20000;
constexpr uint32_t kWriteTimeoutMs = 10000;
constexpr uint32_t kReadWaitMs = 3000;
constexpr unsigned kLineBaud = 19200;
constexpr uint32_t kGoneAfterErrorFlagsPauseMs = 1000;
constexpr uint32_t kGoneAfterReadPauseMs = 2000;
constexpr uint32_t kNoWait = 0xFFFFFFFF;  // MAXDWORD: a read returns at once with what is queued

}  // namespace

OverlappedPort::OverlappedPort(std::shared_ptr<SerialSystem> system) : m_system(std::move(system)) {}

OverlappedPort::~OverlappedPort() { close(); }

int OverlappedPort::openComPort(unsigned char port) {
  if (isOpen()) return 1;
  if (!open(port)) return 0;
  return m_system->setCommMask(m_handle, kEventRxFlag) ? 1 : 0;
}

int OverlappedPort::open(unsigned char port) {
  if (isOpen()) return 0;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(port));
  const SerialHandle handle = m_system->openPort(name, true);
  if (handle == kNoHandle) return 0;
  if (!m_system->setCommMask(handle, kEventRxFlag)) {
    m_system->closeHandle(handle);
    return 0;
  }
  m_handle = handle;
  m_system->setupComm(handle, kQueueBytes, kQueueBytes);
  m_system->setCommTimeouts(handle, {.readInterval = kNoWait, .writeTotalConstant = kWriteTimeoutMs});
  if (!setLineState(kLineBaud, 8, 0, 0)) return fail();
  setDtr(1);
  m_readRequest = m_system->createRequest();
  m_writeRequest = m_system->createRequest();
  if (m_readRequest == kNoHandle || m_writeRequest == kNoHandle) {  // no request can be waited for without them
    close();
    return 0;
  }
  purgeInput();
  return 1;
}

// A set-up that failed before the requests exist: the handle alone is closed.
int OverlappedPort::fail() {
  m_system->closeHandle(m_handle);
  m_handle = kNoHandle;
  return 0;
}

void OverlappedPort::close() {
  if (!isOpen()) return;
  m_system->setCommMask(m_handle, 0);
  setDtr(0);
  m_system->purgeComm(m_handle, kPurgeRxAbort | kPurgeRxClear);
  m_system->closeHandle(m_handle);
  if (m_readRequest != kNoHandle) m_system->closeRequest(m_readRequest);
  if (m_writeRequest != kNoHandle) m_system->closeRequest(m_writeRequest);
  m_handle = m_readRequest = m_writeRequest = kNoHandle;
}

int OverlappedPort::purgeInput() { return m_system->purgeComm(m_handle, kPurgeRxAbort | kPurgeRxClear); }

int OverlappedPort::purgeAll() {
  return m_system->purgeComm(m_handle, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear);
}

int OverlappedPort::setLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits) {
  m_system->getCommState(m_handle, &m_line);
  m_line.baudRate = baud;
  m_line.byteSize = byteSize;
  m_line.parity = parity;
  m_line.stopBits = stopBits;
  m_line.xonLimit = 100;
  m_line.xoffLimit = 100;
  m_line.xonChar = 0x11;
  m_line.xoffChar = 0x13;
  m_line.binary = true;
  m_line.parityCheck = true;
  m_line.outxCtsFlow = false;
  m_line.outxDsrFlow = false;
  m_line.dtrControl = kDtrControlEnable;
  m_line.outX = false;
  m_line.inX = false;
  m_line.rtsControl = kRtsControlEnable;
  m_line.abortOnError = true;
  return m_system->setCommState(m_handle, m_line) ? 1 : 0;
}

// In DTR handshake mode nothing is sent.
int OverlappedPort::setDtr(int on) {
  if (m_line.dtrControl == kDtrControlHandshake) return kDtrControlHandshake;
  m_system->escapeCommFunction(m_handle, on ? kSetDtr : kClearDtr);
  return 0;
}

int OverlappedPort::setBaudRate(unsigned baud) {
  m_system->getCommState(m_handle, &m_line);
  m_line.baudRate = baud;
  return m_system->setCommState(m_handle, m_line) ? 1 : 0;
}

uint32_t OverlappedPort::clearErrors(uint32_t* queuedInput) {
  uint32_t flags = 0;
  m_system->clearCommError(m_handle, &flags, queuedInput);
  return flags;
}

// The device has gone (unplugged while open).
bool OverlappedPort::deviceGone(uint32_t error) const {
  return error == kErrorAccessDenied || error == kErrorGenFailure;
}

int OverlappedPort::write(const void* data, unsigned count) {
  if (!isOpen()) return 0;
  uint32_t written = 0;
  if (m_system->writeFileOverlapped(m_handle, data, count, &written, m_writeRequest)) return 1;
  const uint32_t error = m_system->lastError();
  if (error == kErrorIoPending) {
    // Bounded by the write time-out of 10 s set when the port opened.
    if (m_system->getOverlappedResult(m_handle, m_writeRequest, &written, true)) {
      clearErrors();
      return 1;
    }
    if (m_system->lastError() == kErrorIoIncomplete) return 0;
    clearErrors();
    return 0;
  }
  if (error == 0) return 0;
  if (deviceGone(error)) {
    close();
    return 0;
  }
  clearErrors();
  return 0;
}

// Takes at most what is already queued, and never leaves a request pending:
// the caller's buffer is not written after read returns.
int OverlappedPort::read(void* buffer, unsigned count) {
  if (!isOpen()) return 0;
  uint32_t queued = 0;
  if (clearErrors(&queued) != 0) {
    if (deviceGone(m_system->lastError())) {
      close();
      m_system->pause(kGoneAfterErrorFlagsPauseMs);
    }
    return 0;
  }
  const uint32_t wanted = count < queued ? count : queued;
  if (wanted == 0) return 0;
  uint32_t got = 0;
  if (m_system->readFileOverlapped(m_handle, buffer, wanted, &got, m_readRequest)) return static_cast<int>(got);
  const uint32_t error = m_system->lastError();
  if (error == kErrorIoPending) {
    if (m_system->waitForRequest(m_readRequest, kReadWaitMs)) {
      // A read that ended by its time-out with nothing is 0 bytes.
      if (!m_system->getOverlappedResult(m_handle, m_readRequest, &got, false)) return 0;
      clearErrors();
      return static_cast<int>(got);
    }
    // Not done in time: cancel it and wait until the driver lets go of the buffer.
    m_system->cancelIoEx(m_handle, m_readRequest);
    m_system->getOverlappedResult(m_handle, m_readRequest, &got, true);
    clearErrors();
    return 0;
  }
  if (clearErrors() != 0 && deviceGone(error)) {
    m_system->pause(kGoneAfterReadPauseMs);
    close();
  }
  return 0;
}

}  // namespace hx
