#pragma once
// The port manager: a serial-port object a session uses to find out whether
// its phone's COM port exists, by opening and closing it again.
#include <cstdint>
#include <memory>

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

// Line settings as the Windows communications API numbers them.
enum LineParity : uint8_t { kNoParity = 0, kOddParity = 1, kEvenParity = 2, kMarkParity = 3, kSpaceParity = 4 };
enum LineStopBits : uint8_t { kOneStopBit = 0, kOneAndHalfStopBits = 1, kTwoStopBits = 2 };

// SetDtr's answer when the line is in DTR handshake mode: nothing is sent.
inline constexpr int kDtrHandshake = 2;

class CComMngr final : public CComDriver {
 public:
  CComMngr();
  CComMngr(const CComMngr&) = delete;
  CComMngr& operator=(const CComMngr&) = delete;
  // Unlike the port object it stands in for, the manager closes a port that is
  // still open when it is destroyed: nothing is left held.
  ~CComMngr() override;

  int Open() override;
  void Close() override;
  int PurgeInput() override;
  int PurgeAll() override;
  int IsOpen() override { return m_open; }
  int Write(const void* data, unsigned count) override;
  int Read(void* buffer, unsigned count) override;
  intptr_t GetHandle() override;
  int OpenComPort(unsigned char port) override;
  int SetBaudRate(unsigned baud) override;
  // Whether the port is among the phone ports the system has now. On Windows
  // the list is enumerated on every call, and its failures go through
  // (PortEnumerationError); on POSIX the port's entry in the ports directory.
  int IsPortAbsent(unsigned char port) override { return IsPortPresent(port) ? 0 : 1; }
  int IsPortPresent(unsigned char port) override;
  int Reserved(int) override { return 1; }

  // Reads the line state, sets speed, frame, XON/XOFF characters and limits,
  // binary mode, parity checking, no flow control, DTR and RTS raised and
  // abort on errors, and writes it back. Non-zero on success. `reserved` is
  // not used.
  int SetLineState(unsigned baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits, int reserved);
  // Raises (on non-zero) or drops DTR and returns 0; in DTR handshake mode
  // sends nothing and returns kDtrHandshake.
  int SetDtr(int on);

  unsigned char portNumber() const { return m_port; }

 private:
  struct Device;  // the platform's handle, requests and line settings

  int m_open = 0;
  unsigned char m_port = 0;
  std::unique_ptr<Device> m_device;
};

}  // namespace hx
