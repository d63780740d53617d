#pragma once
// What the protocol link and the port manager on Windows ask of the system:
// the communications calls on one handle, synchronous or overlapped I/O with
// its request records, and the cancelling of a thread's pending I/O that
// bounds a flush. The Win32 calls stand behind it on Windows
// (serial_system_win32.cpp); tests script it, so the algorithms above it run
// on every platform. Every failing call leaves its error code for lastError().
#include <cstdint>
#include <memory>
#include <string>

namespace hx {

// An open handle of the system; kNoHandle is none.
using SerialHandle = std::uintptr_t;
inline constexpr SerialHandle kNoHandle = 0;

// The system's error codes the link tells apart.
inline constexpr uint32_t kErrorAccessDenied = 5;         // ERROR_ACCESS_DENIED
inline constexpr uint32_t kErrorNotReady = 21;            // ERROR_NOT_READY
inline constexpr uint32_t kErrorBadCommand = 22;          // ERROR_BAD_COMMAND
inline constexpr uint32_t kErrorGenFailure = 31;          // ERROR_GEN_FAILURE
inline constexpr uint32_t kErrorNotSupported = 50;        // ERROR_NOT_SUPPORTED
inline constexpr uint32_t kErrorDeviceNotConnected = 1167;  // ERROR_DEVICE_NOT_CONNECTED
inline constexpr uint32_t kErrorIoIncomplete = 996;       // ERROR_IO_INCOMPLETE
inline constexpr uint32_t kErrorIoPending = 997;          // ERROR_IO_PENDING

// The line as the system describes it (the fields of its DCB). What the link
// does not set is written back as the system reported it.
struct LineState {
  uint32_t baudRate = 0;
  bool binary = false;
  bool parityCheck = false;
  bool outxCtsFlow = false;
  bool outxDsrFlow = false;
  uint8_t dtrControl = 0;  // 0 disable, 1 enable, 2 handshake
  bool dsrSensitivity = false;
  bool txContinueOnXoff = false;
  bool outX = false;
  bool inX = false;
  bool errorCharOn = false;
  bool nullStripping = false;
  uint8_t rtsControl = 0;  // 0 disable, 1 enable, 2 handshake, 3 toggle
  bool abortOnError = false;
  uint16_t xonLimit = 0;
  uint16_t xoffLimit = 0;
  uint8_t byteSize = 0;
  uint8_t parity = 0;    // 0 none, 1 odd, 2 even, 3 mark, 4 space
  uint8_t stopBits = 0;  // 0 one, 1 one and a half, 2 two
  char xonChar = 0;
  char xoffChar = 0;
  char errorChar = 0;
  char eofChar = 0;
  char eventChar = 0;
  bool operator==(const LineState&) const = default;
};
inline constexpr uint8_t kDtrControlEnable = 1;
inline constexpr uint8_t kRtsControlEnable = 1;

struct CommTimeouts {
  uint32_t readInterval = 0;
  uint32_t readTotalMultiplier = 0;
  uint32_t readTotalConstant = 0;
  uint32_t writeTotalMultiplier = 0;
  uint32_t writeTotalConstant = 0;
  bool operator==(const CommTimeouts&) const = default;
};

// PurgeComm's flags.
inline constexpr uint32_t kPurgeTxAbort = 0x1;
inline constexpr uint32_t kPurgeRxAbort = 0x2;
inline constexpr uint32_t kPurgeTxClear = 0x4;
inline constexpr uint32_t kPurgeRxClear = 0x8;

// SetCommMask's event of a received event character, and EscapeCommFunction's
// functions on DTR.
inline constexpr uint32_t kEventRxFlag = 0x2;
inline constexpr uint32_t kSetDtr = 5;
inline constexpr uint32_t kClearDtr = 6;
inline constexpr uint8_t kDtrControlHandshake = 2;

class SerialSystem {
 public:
  virtual ~SerialSystem() = default;

  // The error code of the last call that failed.
  virtual uint32_t lastError() = 0;

  // Opens `deviceName` for reading and writing, without sharing, for
  // synchronous or for overlapped I/O. kNoHandle when it fails.
  virtual SerialHandle openPort(const std::string& deviceName, bool overlapped) = 0;
  virtual void closeHandle(SerialHandle handle) = 0;

  // Clears the port's error state; `errors` (the error flags it held) and
  // `queuedInput` (bytes received and not read) may be null.
  virtual bool clearCommError(SerialHandle port, uint32_t* errors, uint32_t* queuedInput) = 0;
  virtual bool setupComm(SerialHandle port, uint32_t inputBytes, uint32_t outputBytes) = 0;
  virtual bool getCommState(SerialHandle port, LineState* line) = 0;
  virtual bool setCommState(SerialHandle port, const LineState& line) = 0;
  virtual bool clearCommBreak(SerialHandle port) = 0;
  virtual bool purgeComm(SerialHandle port, uint32_t flags) = 0;
  virtual bool setCommTimeouts(SerialHandle port, const CommTimeouts& timeouts) = 0;
  virtual bool writeFile(SerialHandle port, const uint8_t* bytes, uint32_t count, uint32_t* written) = 0;
  virtual bool readFile(SerialHandle port, uint8_t* dest, uint32_t count, uint32_t* got) = 0;
  // Returns when the driver has sent every byte written, or when the calling
  // thread's I/O is cancelled.
  virtual bool flushFileBuffers(SerialHandle port) = 0;
  virtual bool setCommMask(SerialHandle port, uint32_t events) = 0;
  virtual bool escapeCommFunction(SerialHandle port, uint32_t function) = 0;

  // Overlapped I/O on a port opened for it. A request record carries its own
  // manual-reset event; createRequest gives kNoHandle when the event cannot be
  // made. A read or write that does not finish at once fails with
  // kErrorIoPending and goes on in the background until its result is taken.
  virtual SerialHandle createRequest() = 0;
  virtual void closeRequest(SerialHandle request) = 0;
  virtual bool writeFileOverlapped(SerialHandle port, const void* data, uint32_t count, uint32_t* written,
                                   SerialHandle request) = 0;
  virtual bool readFileOverlapped(SerialHandle port, void* dest, uint32_t count, uint32_t* got,
                                  SerialHandle request) = 0;
  // The request's outcome; with `wait`, waits until it is done.
  virtual bool getOverlappedResult(SerialHandle port, SerialHandle request, uint32_t* transferred, bool wait) = 0;
  // Whether the request's event is signalled within `ms`.
  virtual bool waitForRequest(SerialHandle request, uint32_t ms) = 0;
  virtual bool cancelIoEx(SerialHandle port, SerialHandle request) = 0;
  // A pause of `ms` on the module's clock (the port manager's after a port has gone).
  virtual void pause(uint32_t ms) = 0;

  // The calling thread, as cancelThreadIo names it (kNoHandle when it cannot
  // be opened); closed with closeHandle.
  virtual SerialHandle openCurrentThread() = 0;
  // Whether `thread` is the calling thread.
  virtual bool isCurrentThread(SerialHandle thread) = 0;
  // Cancels the synchronous I/O `thread` is waiting in; nothing when it is
  // not waiting in any yet (the cancel is not kept for a later call).
  virtual void cancelThreadIo(SerialHandle thread) = 0;
};

#if defined(_WIN32)
// The Win32 system: CreateFileA and the communications API.
std::unique_ptr<SerialSystem> makeWin32SerialSystem();
#endif

}  // namespace hx
