// The protocol link on Windows: a communications handle opened for
// synchronous I/O, without sharing. The driver's time-outs bound every read
// and write (n + the constant in ms); the flush after a write has no time-out
// of its own, so a watchdog bounds it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

#include "platform/log.h"
#include "serial/port_open_observer.h"
#include "serial/serial_link.h"

namespace hx {
namespace {

constexpr DWORD kQueueBytes = 8192;
constexpr uint32_t kFirstReadMs = 20;
constexpr uint32_t kFirstWriteMs = 5000;

// Cancels the synchronous I/O of one thread if it is still pending when its
// deadline passes. One thread per link, started at the first flush; arming
// and disarming are cheap, so every write can be bounded.
class FlushWatchdog {
 public:
  FlushWatchdog() = default;
  FlushWatchdog(const FlushWatchdog&) = delete;
  FlushWatchdog& operator=(const FlushWatchdog&) = delete;
  ~FlushWatchdog() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
    if (m_target) CloseHandle(m_target);
  }

  // Watches the calling thread until `deadline`. False if it cannot.
  bool arm(std::chrono::steady_clock::time_point deadline) {
    if (!targetCallingThread()) return false;
    if (!m_thread.joinable()) m_thread = std::thread([this] { watch(); });
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_deadline = deadline;
      m_armed = true;
      m_fired = false;
    }
    m_wake.notify_one();
    return true;
  }

  // Stops watching; true when the deadline passed and the I/O was cancelled.
  // Once this returns, the watchdog cancels nothing more of this thread.
  bool disarm() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
    return m_fired;
  }

 private:
  // The handle CancelSynchronousIo needs; kept while the same thread writes.
  bool targetCallingThread() {
    const DWORD id = GetCurrentThreadId();
    if (m_target && m_targetId == id) return true;
    HANDLE thread = OpenThread(THREAD_TERMINATE, FALSE, id);
    if (!thread) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_target) CloseHandle(m_target);
    m_target = thread;
    m_targetId = id;
    return true;
  }

  void watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
      if (!m_armed) {
        m_wake.wait(lock);
        continue;
      }
      if (m_wake.wait_until(lock, m_deadline) == std::cv_status::timeout && m_armed && !m_fired) {
        // Under the lock: the watched thread cannot have moved on to other I/O.
        CancelSynchronousIo(m_target);
        m_fired = true;
        m_armed = false;
      }
    }
  }

  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
  HANDLE m_target = nullptr;
  DWORD m_targetId = 0;
  std::chrono::steady_clock::time_point m_deadline{};
  bool m_armed = false;
  bool m_fired = false;
  bool m_stopping = false;
};

class SerialLinkWin32 final : public SerialPortLink {
 public:
  SerialLinkWin32(HANDLE handle, uint32_t comPort) : m_handle(handle), m_comPort(comPort) {}
  ~SerialLinkWin32() override { CloseHandle(m_handle); }
  SerialLinkWin32(const SerialLinkWin32&) = delete;
  SerialLinkWin32& operator=(const SerialLinkWin32&) = delete;

  // One WriteFile of all bytes, then FlushFileBuffers so that the call returns
  // only when the driver has sent them.
  int write(const uint8_t* bytes, size_t n) override {
    if (n > MAXDWORD) return kLinkFailed;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(n + m_writeMs);
    DWORD written = 0;
    if (!WriteFile(m_handle, bytes, static_cast<DWORD>(n), &written, nullptr)) return failed(deviceError());
    if (written == 0 && n != 0) return kLinkNothingWritten;
    if (written < n)
      return failed("the port took only " + std::to_string(written) + " of " + std::to_string(n) + " bytes in time");
    return flush(deadline);
  }

  // One ReadFile of n bytes; the driver gives up after n + the read constant.
  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = 0;
    if (n > MAXDWORD) return kLinkFailed;
    DWORD received = 0;
    if (!ReadFile(m_handle, dest, static_cast<DWORD>(n), &received, nullptr)) return failed(deviceError());
    *got = received;
    if (received == n) return kLinkOk;
    if (received != 0) return kLinkFailed;
    // Nothing came: silence, or a device that has gone. Some drivers end the
    // read of a vanished device as a plain time-out (Wine's, for a pty whose
    // other side hung up); its state can no longer be read then.
    return ClearCommError(m_handle, nullptr, nullptr) ? kLinkNothingReceived : failed(deviceError());
  }

  std::string failureDetail() const override { return m_failure; }

  int setTimeouts(uint32_t readMs, uint32_t writeMs) override {
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 0;
    timeouts.ReadTotalTimeoutMultiplier = 1;
    timeouts.ReadTotalTimeoutConstant = readMs;
    timeouts.WriteTotalTimeoutMultiplier = 1;
    timeouts.WriteTotalTimeoutConstant = writeMs;
    if (!SetCommTimeouts(m_handle, &timeouts)) return kLinkFailed;
    m_writeMs = writeMs;
    return kLinkOk;
  }

  int changeBaudRate(uint32_t baud) override {
    logMessageFor(m_comPort, "[com] Changing baudrate of the communication port: baudrate=%u\n", baud);
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!GetCommState(m_handle, &dcb)) return kLinkFailed;
    dcb.BaudRate = baud;
    return SetCommState(m_handle, &dcb) ? kLinkOk : kLinkFailed;
  }

 private:
  // FlushFileBuffers has no time-out: a device that stops taking bytes would
  // hold it for ever. The watchdog cancels it at the write's deadline.
  int flush(std::chrono::steady_clock::time_point deadline) {
    if (!m_watchdog.arm(deadline)) return kLinkFailed;
    const BOOL flushed = FlushFileBuffers(m_handle);
    const bool cancelled = m_watchdog.disarm();
    if (cancelled) return failed("the port did not send its bytes in time");
    return flushed ? kLinkOk : failed(deviceError());
  }

  // Remembers how the device failed; always kLinkFailed.
  int failed(std::string how) {
    m_failure = std::move(how);
    return kLinkFailed;
  }

  // The errors a port that has gone gives are a hang-up; others are named.
  static std::string deviceError() {
    const DWORD error = GetLastError();
    if (error == ERROR_ACCESS_DENIED || error == ERROR_GEN_FAILURE || error == ERROR_BAD_COMMAND ||
        error == ERROR_NOT_READY || error == ERROR_DEVICE_NOT_CONNECTED)
      return "the port went away (hang-up)";
    return "the port went away (device error: Windows error " + std::to_string(error) + ")";
  }

  HANDLE m_handle;
  uint32_t m_comPort;
  std::string m_failure = "the port failed";
  uint32_t m_writeMs = kFirstWriteMs;
  FlushWatchdog m_watchdog;
};

std::string lastErrorText(const char* call) {
  char text[64];
  std::snprintf(text, sizeof text, "%s failed (error %lu)", call, static_cast<unsigned long>(GetLastError()));
  return text;
}

// The line as the protocol needs it: 8N1 at `baud`, DTR and RTS raised, no
// flow control, no abort on errors; every other field as the driver reported.
bool configure(HANDLE handle, uint32_t baud, std::string* why) {
  if (!ClearCommError(handle, nullptr, nullptr)) return *why = lastErrorText("ClearCommError"), false;
  if (!SetupComm(handle, kQueueBytes, kQueueBytes)) return *why = lastErrorText("SetupComm"), false;
  DCB dcb{};
  dcb.DCBlength = sizeof dcb;
  if (!GetCommState(handle, &dcb)) return *why = lastErrorText("GetCommState"), false;
  dcb.BaudRate = baud;
  dcb.fParity = FALSE;
  dcb.fOutxCtsFlow = FALSE;
  dcb.fOutxDsrFlow = FALSE;
  dcb.fDtrControl = DTR_CONTROL_ENABLE;
  dcb.fDsrSensitivity = FALSE;
  dcb.fOutX = FALSE;
  dcb.fInX = FALSE;
  dcb.fRtsControl = RTS_CONTROL_ENABLE;
  dcb.fAbortOnError = FALSE;
  dcb.ByteSize = 8;
  dcb.Parity = NOPARITY;
  dcb.StopBits = ONESTOPBIT;
  if (!SetCommState(handle, &dcb)) return *why = lastErrorText("SetCommState"), false;
  if (!ClearCommBreak(handle)) return *why = lastErrorText("ClearCommBreak"), false;
  if (!PurgeComm(handle, PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR)) {
    return *why = lastErrorText("PurgeComm"), false;
  }
  return true;
}

}  // namespace

std::unique_ptr<SerialPortLink> openSerialLink(uint32_t comPort, uint32_t baud, std::string* why) {
  notePortOpen(PortOpenPurpose::Link);
  std::string reason;
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", comPort);
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) {
    if (why) *why = std::string(name + 4) + ": " + lastErrorText("CreateFileA");
    return nullptr;
  }
  // The link owns the handle from here: a failed set-up closes it.
  auto link = std::make_unique<SerialLinkWin32>(handle, comPort);
  if (!configure(handle, baud, &reason) || link->setTimeouts(kFirstReadMs, kFirstWriteMs) != kLinkOk) {
    if (why) *why = std::string(name + 4) + ": " + (reason.empty() ? lastErrorText("SetCommTimeouts") : reason);
    return nullptr;
  }
  return link;
}

}  // namespace hx
