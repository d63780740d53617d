// The protocol link's and the port manager's system on Windows: CreateFileA,
// the communications API, overlapped I/O with its events, and
// CancelSynchronousIo for the flush watchdog.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <memory>

#include "platform/clock.h"
#include "link/serial_system.h"

namespace hx {
namespace {

static_assert(kErrorAccessDenied == ERROR_ACCESS_DENIED && kErrorNotReady == ERROR_NOT_READY &&
              kErrorBadCommand == ERROR_BAD_COMMAND && kErrorGenFailure == ERROR_GEN_FAILURE &&
              kErrorDeviceNotConnected == ERROR_DEVICE_NOT_CONNECTED);
static_assert(kPurgeTxAbort == PURGE_TXABORT && kPurgeRxAbort == PURGE_RXABORT && kPurgeTxClear == PURGE_TXCLEAR &&
              kPurgeRxClear == PURGE_RXCLEAR);
static_assert(kDtrControlEnable == DTR_CONTROL_ENABLE && kRtsControlEnable == RTS_CONTROL_ENABLE &&
              kDtrControlHandshake == DTR_CONTROL_HANDSHAKE);
static_assert(kErrorIoPending == ERROR_IO_PENDING && kErrorIoIncomplete == ERROR_IO_INCOMPLETE);
static_assert(kEventRxFlag == EV_RXFLAG && kSetDtr == SETDTR && kClearDtr == CLRDTR);

// An overlapped request record and the manual-reset event it signals.
struct Request {
  OVERLAPPED overlapped{};
};

OVERLAPPED* overlappedOf(SerialHandle request) { return &reinterpret_cast<Request*>(request)->overlapped; }

HANDLE handleOf(SerialHandle handle) { return reinterpret_cast<HANDLE>(handle); }
SerialHandle serialHandle(HANDLE handle) { return reinterpret_cast<SerialHandle>(handle); }

LineState lineOf(const DCB& dcb) {
  return {.baudRate = dcb.BaudRate,
          .binary = dcb.fBinary != 0,
          .parityCheck = dcb.fParity != 0,
          .outxCtsFlow = dcb.fOutxCtsFlow != 0,
          .outxDsrFlow = dcb.fOutxDsrFlow != 0,
          .dtrControl = static_cast<uint8_t>(dcb.fDtrControl),
          .dsrSensitivity = dcb.fDsrSensitivity != 0,
          .txContinueOnXoff = dcb.fTXContinueOnXoff != 0,
          .outX = dcb.fOutX != 0,
          .inX = dcb.fInX != 0,
          .errorCharOn = dcb.fErrorChar != 0,
          .nullStripping = dcb.fNull != 0,
          .rtsControl = static_cast<uint8_t>(dcb.fRtsControl),
          .abortOnError = dcb.fAbortOnError != 0,
          .xonLimit = dcb.XonLim,
          .xoffLimit = dcb.XoffLim,
          .byteSize = dcb.ByteSize,
          .parity = dcb.Parity,
          .stopBits = dcb.StopBits,
          .xonChar = dcb.XonChar,
          .xoffChar = dcb.XoffChar,
          .errorChar = dcb.ErrorChar,
          .eofChar = dcb.EofChar,
          .eventChar = dcb.EvtChar};
}

DCB dcbOf(const LineState& line) {
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  dcb.BaudRate = line.baudRate;
  dcb.fBinary = line.binary;
  dcb.fParity = line.parityCheck;
  dcb.fOutxCtsFlow = line.outxCtsFlow;
  dcb.fOutxDsrFlow = line.outxDsrFlow;
  dcb.fDtrControl = line.dtrControl;
  dcb.fDsrSensitivity = line.dsrSensitivity;
  dcb.fTXContinueOnXoff = line.txContinueOnXoff;
  dcb.fOutX = line.outX;
  dcb.fInX = line.inX;
  dcb.fErrorChar = line.errorCharOn;
  dcb.fNull = line.nullStripping;
  dcb.fRtsControl = line.rtsControl;
  dcb.fAbortOnError = line.abortOnError;
  dcb.XonLim = line.xonLimit;
  dcb.XoffLim = line.xoffLimit;
  dcb.ByteSize = line.byteSize;
  dcb.Parity = line.parity;
  dcb.StopBits = line.stopBits;
  dcb.XonChar = line.xonChar;
  dcb.XoffChar = line.xoffChar;
  dcb.ErrorChar = line.errorChar;
  dcb.EofChar = line.eofChar;
  dcb.EvtChar = line.eventChar;
  return dcb;
}

class Win32SerialSystem final : public SerialSystem {
 public:
  uint32_t lastError() override { return GetLastError(); }

  SerialHandle openPort(const std::string& deviceName, bool overlapped) override {
    const DWORD flags = overlapped ? FILE_FLAG_OVERLAPPED | FILE_ATTRIBUTE_NORMAL : 0;
    HANDLE handle = CreateFileA(deviceName.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, flags, nullptr);
    return handle == INVALID_HANDLE_VALUE ? kNoHandle : serialHandle(handle);
  }
  void closeHandle(SerialHandle handle) override { CloseHandle(handleOf(handle)); }

  bool clearCommError(SerialHandle port, uint32_t* errors, uint32_t* queuedInput) override {
    DWORD flags = 0;
    COMSTAT status{};
    const BOOL ok = ClearCommError(handleOf(port), &flags, &status);
    if (errors) *errors = flags;
    if (queuedInput) *queuedInput = status.cbInQue;
    return ok;
  }
  bool setupComm(SerialHandle port, uint32_t inputBytes, uint32_t outputBytes) override {
    return SetupComm(handleOf(port), inputBytes, outputBytes);
  }
  bool getCommState(SerialHandle port, LineState* line) override {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(handleOf(port), &dcb)) return false;
    *line = lineOf(dcb);
    return true;
  }
  bool setCommState(SerialHandle port, const LineState& line) override {
    DCB dcb = dcbOf(line);
    return SetCommState(handleOf(port), &dcb);
  }
  bool clearCommBreak(SerialHandle port) override { return ClearCommBreak(handleOf(port)); }
  bool purgeComm(SerialHandle port, uint32_t flags) override { return PurgeComm(handleOf(port), flags); }
  bool setCommTimeouts(SerialHandle port, const CommTimeouts& t) override {
    COMMTIMEOUTS timeouts{t.readInterval, t.readTotalMultiplier, t.readTotalConstant, t.writeTotalMultiplier,
                          t.writeTotalConstant};
    return SetCommTimeouts(handleOf(port), &timeouts);
  }
  bool writeFile(SerialHandle port, const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    DWORD n = 0;
    const BOOL ok = WriteFile(handleOf(port), bytes, count, &n, nullptr);
    *written = n;
    return ok;
  }
  bool readFile(SerialHandle port, uint8_t* dest, uint32_t count, uint32_t* got) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(handleOf(port), dest, count, &n, nullptr);
    *got = n;
    return ok;
  }
  bool flushFileBuffers(SerialHandle port) override { return FlushFileBuffers(handleOf(port)); }

  bool setCommMask(SerialHandle port, uint32_t events) override { return SetCommMask(handleOf(port), events); }
  bool escapeCommFunction(SerialHandle port, uint32_t function) override {
    return EscapeCommFunction(handleOf(port), function);
  }

  SerialHandle createRequest() override {
    HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) return kNoHandle;
    auto* request = new Request;
    request->overlapped.hEvent = event;
    return reinterpret_cast<SerialHandle>(request);
  }
  void closeRequest(SerialHandle request) override {
    auto* record = reinterpret_cast<Request*>(request);
    CloseHandle(record->overlapped.hEvent);
    delete record;
  }
  bool writeFileOverlapped(SerialHandle port, const void* data, uint32_t count, uint32_t* written,
                           SerialHandle request) override {
    DWORD n = 0;
    const BOOL ok = WriteFile(handleOf(port), data, count, &n, overlappedOf(request));
    *written = n;
    return ok;
  }
  bool readFileOverlapped(SerialHandle port, void* dest, uint32_t count, uint32_t* got, SerialHandle request) override {
    DWORD n = 0;
    const BOOL ok = ReadFile(handleOf(port), dest, count, &n, overlappedOf(request));
    *got = n;
    return ok;
  }
  bool getOverlappedResult(SerialHandle port, SerialHandle request, uint32_t* transferred, bool wait) override {
    DWORD n = 0;
    const BOOL ok = GetOverlappedResult(handleOf(port), overlappedOf(request), &n, wait);
    *transferred = n;
    return ok;
  }
  bool waitForRequest(SerialHandle request, uint32_t ms) override {
    return WaitForSingleObject(overlappedOf(request)->hEvent, ms) == WAIT_OBJECT_0;
  }
  bool cancelIoEx(SerialHandle port, SerialHandle request) override {
    return CancelIoEx(handleOf(port), overlappedOf(request));
  }

  void pause(uint32_t ms) override { sleepMs(ms); }

  SerialHandle openCurrentThread() override {
    HANDLE thread = OpenThread(THREAD_TERMINATE | THREAD_QUERY_LIMITED_INFORMATION, FALSE, GetCurrentThreadId());
    return thread ? serialHandle(thread) : kNoHandle;
  }
  bool isCurrentThread(SerialHandle thread) override { return GetThreadId(handleOf(thread)) == GetCurrentThreadId(); }
  void cancelThreadIo(SerialHandle thread) override { CancelSynchronousIo(handleOf(thread)); }
};

}  // namespace

std::unique_ptr<SerialSystem> makeWin32SerialSystem() { return std::make_unique<Win32SerialSystem>(); }

}  // namespace hx
