#pragma once
// The port manager's port on Windows: a communications handle opened for
// overlapped I/O, with one request record (and its event) for reads and one
// for writes, on the Win32 system or a scripted one. CComMngr on Windows is
// this; its algorithm builds and is tested on every platform.
#include <cstdint>
#include <memory>

#include "link/serial_system.h"

namespace hx {

class OverlappedPort {
 public:
  explicit OverlappedPort(std::shared_ptr<SerialSystem> system);
  // A port still open is closed: nothing is left held.
  ~OverlappedPort();
  OverlappedPort(const OverlappedPort&) = delete;
  OverlappedPort& operator=(const OverlappedPort&) = delete;

  // Opens "\\.\COM<port>": the received-event mask, 128 KiB queues, reads that
  // return at once with what is queued and writes bounded by 10 s, 19200 8N1
  // with DTR raised, both requests, the input purged. 1 when open; 0 (and
  // nothing held) otherwise, or when it is open already.
  int open(unsigned char port);
  // open, then the received-event mask once more; 1 at once when open already.
  int openComPort(unsigned char port);
  // Clears the event mask, drops DTR, purges the input and closes everything.
  void close();
  bool isOpen() const { return m_handle != kNoHandle; }
  int purgeInput();
  int purgeAll();
  // One overlapped write, waited for; 1 when written. A port that has gone is
  // closed.
  int write(const void* data, unsigned count);
  // At most what is queued, never leaving a request pending; the bytes read.
  // A port that has gone is closed, after a pause.
  int read(void* buffer, unsigned count);
  int setLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);
  int setDtr(int on);
  int setBaudRate(unsigned baud);
  SerialHandle handle() const { return m_handle; }

 private:
  int fail();
  // Clears the port's error state; the error flags it held.
  uint32_t clearErrors(uint32_t* queuedInput = nullptr);
  bool deviceGone(uint32_t error) const;

  std::shared_ptr<SerialSystem> m_system;
  SerialHandle m_handle = kNoHandle;
  SerialHandle m_readRequest = kNoHandle;
  SerialHandle m_writeRequest = kNoHandle;
  LineState m_line;
};

}  // namespace hx
