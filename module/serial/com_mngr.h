#pragma once
// The port manager: a serial-port object a session uses to find out whether
// its phone's COM port exists, by opening and closing it again.
#include <cstdint>

namespace hx {

class CComDriver {
 public:
  virtual ~CComDriver() = default;
  virtual int Open() = 0;
  virtual void Close() = 0;
  virtual int PurgeInput() = 0;
  virtual int PurgeAll() = 0;
  virtual int IsOpen() = 0;
  virtual int Write(const void* data, unsigned count) = 0;
  virtual int Read(void* buffer, unsigned count) = 0;
  virtual intptr_t GetHandle() = 0;
  virtual int OpenComPort(unsigned char port) = 0;
  virtual int SetBaudRate(unsigned baud) = 0;
  virtual int IsPortAbsent(unsigned char port) = 0;
  virtual int IsPortPresent(unsigned char port) = 0;
  virtual int Reserved(int) = 0;
};

class CComMngr final : public CComDriver {
 public:
  CComMngr() = default;
  CComMngr(const CComMngr&) = delete;
  CComMngr& operator=(const CComMngr&) = delete;
  // Unlike the port object it stands in for, the manager closes a port that is
  // still open when it is destroyed: nothing is left held.
  ~CComMngr() override { Close(); }

  int Open() override;
  void Close() override;
  int PurgeInput() override;
  int PurgeAll() override;
  int IsOpen() override { return m_open; }
  int Write(const void* data, unsigned count) override;
  int Read(void* buffer, unsigned count) override;
  intptr_t GetHandle() override { return m_fd; }
  int OpenComPort(unsigned char port) override;
  int SetBaudRate(unsigned baud) override;
  int IsPortAbsent(unsigned char port) override { return IsPortPresent(port) ? 0 : 1; }
  int IsPortPresent(unsigned char port) override;
  int Reserved(int) override { return 1; }

  unsigned char portNumber() const { return m_port; }

 private:
  int m_open = 0;
  unsigned char m_port = 0;
  int m_fd = -1;
};

}  // namespace hx
