#include "link/comm_link.h"

#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <thread>

#include "platform/log.h"

namespace hx {
namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kQueueBytes = 8192;
constexpr uint32_t kFirstReadMs = 20;
constexpr uint32_t kFirstWriteMs = 5000;
constexpr const char* kHangUp = "the port went away (hang-up)";

// How often the watchdog cancels again once a flush's deadline has passed.
constexpr auto kCancelAgain = std::chrono::milliseconds(10);

// Cancels the flush of the thread that armed it once its deadline has passed,
// and again every kCancelAgain until the flush has returned and disarmed it: a
// cancel that reaches the system before the flush is pending (a write that
// used up its time on a stalling device) cancels nothing, and one cancel
// alone would leave that flush unbounded. One thread per link, started at the
// first flush; arming and disarming are cheap, so every write can be bounded.
// Each arming is a turn of its own: the deadline of an earlier turn cancels
// nothing of a later one.
class FlushWatchdog {
 public:
  explicit FlushWatchdog(SerialSystem& system) : m_system(system) {}
  FlushWatchdog(const FlushWatchdog&) = delete;
  FlushWatchdog& operator=(const FlushWatchdog&) = delete;
  ~FlushWatchdog() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_stopping = true;
    }
    m_wake.notify_one();
    if (m_thread.joinable()) m_thread.join();
    if (m_target != kNoHandle) m_system.closeHandle(m_target);
  }

  // Watches the calling thread: from `deadline` on, cancels its I/O until
  // disarmed. False if it cannot.
  bool arm(Clock::time_point deadline) {
    if (!targetCallingThread()) return false;
    if (!m_thread.joinable()) m_thread = std::thread([this] { watch(); });
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_deadline = deadline;
      m_armed = true;
      m_fired = false;
      ++m_turn;
    }
    m_wake.notify_one();
    return true;
  }

  // Stops watching; true when the deadline passed and the I/O was cancelled.
  // Once this returns, the watchdog cancels nothing more of this turn.
  bool disarm() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_armed = false;
    return m_fired;
  }

 private:
  // The thread cancelThreadIo names; kept while the same thread writes.
  bool targetCallingThread() {
    if (m_target != kNoHandle && m_system.isCurrentThread(m_target)) return true;
    const SerialHandle thread = m_system.openCurrentThread();
    if (thread == kNoHandle) return false;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_target != kNoHandle) m_system.closeHandle(m_target);
    m_target = thread;
    return true;
  }

  void watch() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_stopping) {
      if (!m_armed) {
        m_wake.wait(lock);
        continue;
      }
      const uint64_t turn = m_turn;
      const Clock::time_point cancelAt = m_fired ? Clock::now() + kCancelAgain : m_deadline;
      m_wake.wait_until(lock, cancelAt, [&] { return m_stopping || !m_armed || m_turn != turn; });
      if (m_armed && m_turn == turn && Clock::now() >= cancelAt) {
        // Under the lock: the watched thread cannot have moved on to other I/O.
        m_system.cancelThreadIo(m_target);
        m_fired = true;
      }
    }
  }

  SerialSystem& m_system;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::thread m_thread;
  SerialHandle m_target = kNoHandle;
  Clock::time_point m_deadline{};
  uint64_t m_turn = 0;
  bool m_armed = false;
  bool m_fired = false;
  bool m_stopping = false;
};

class CommLink final : public SerialPortLink {
 public:
  CommLink(std::shared_ptr<SerialSystem> system, SerialHandle handle, uint32_t comPort)
      : m_system(std::move(system)), m_handle(handle), m_comPort(comPort), m_watchdog(*m_system) {}
  ~CommLink() override { m_system->closeHandle(m_handle); }
  CommLink(const CommLink&) = delete;
  CommLink& operator=(const CommLink&) = delete;

  // One WriteFile of all bytes, then the flush, so that the call returns only
  // when the driver has sent them; all within n + the write constant from the
  // start of the write.
  int write(const uint8_t* bytes, size_t n) override {
    if (n > UINT32_MAX) return failed("a write of more than 4 GiB");
    const auto deadline = Clock::now() + std::chrono::milliseconds(n + m_writeMs);
    uint32_t written = 0;
    if (!m_system->writeFile(m_handle, bytes, static_cast<uint32_t>(n), &written)) return failed(deviceError());
    if (written == 0 && n != 0) return kLinkNothingWritten;
    if (written < n)
      return failed("the port took only " + std::to_string(written) + " of " + std::to_string(n) + " bytes in time");
    return flush(deadline);
  }

  // One ReadFile of n bytes; the driver gives up after n + the read constant.
  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = 0;
    if (n > UINT32_MAX) return failed("a read of more than 4 GiB");
    uint32_t received = 0;
    if (!m_system->readFile(m_handle, dest, static_cast<uint32_t>(n), &received)) return failed(deviceError());
    *got = received;
    if (received == n) return kLinkOk;
    if (received != 0) return kLinkFailed;
    // Nothing came: silence, or a device that has gone. Some drivers end the
    // read of a vanished device as a plain time-out (Wine's, for a pty whose
    // other side hung up); its state can no longer be read then.
    return m_system->clearCommError(m_handle, nullptr, nullptr) ? kLinkNothingReceived : failed(deviceError());
  }

  // The bytes the driver's input queue holds (ClearCommError's cbInQue).
  size_t waiting() override {
    uint32_t queued = 0;
    return m_system->clearCommError(m_handle, nullptr, &queued) ? queued : 0;
  }

  std::string failureDetail() const override { return m_failure; }

  int setTimeouts(uint32_t readMs, uint32_t writeMs) override {
    const CommTimeouts timeouts{.readInterval = 0,
                                .readTotalMultiplier = 1,
                                .readTotalConstant = readMs,
                                .writeTotalMultiplier = 1,
                                .writeTotalConstant = writeMs};
    if (!m_system->setCommTimeouts(m_handle, timeouts)) return kLinkFailed;
    m_writeMs = writeMs;
    return kLinkOk;
  }

  int changeBaudRate(uint32_t baud) override {
    logMessageFor(m_comPort, "[com] Changing baudrate of the communication port: baudrate=%u\n", baud);
    LineState line;
    if (!m_system->getCommState(m_handle, &line)) return kLinkFailed;
    line.baudRate = baud;
    return m_system->setCommState(m_handle, line) ? kLinkOk : kLinkFailed;
  }

 private:
  // The flush has no time-out of its own: a device that stops taking bytes
  // would hold it for ever. The watchdog cancels it from the write's deadline
  // on, whether or not the deadline has already passed when the flush starts.
  int flush(Clock::time_point deadline) {
    if (!m_watchdog.arm(deadline)) return failed("the flush could not be bounded");
    const bool flushed = m_system->flushFileBuffers(m_handle);
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
  std::string deviceError() {
    const uint32_t error = m_system->lastError();
    if (error == kErrorAccessDenied || error == kErrorGenFailure || error == kErrorBadCommand ||
        error == kErrorNotReady || error == kErrorDeviceNotConnected)
      return kHangUp;
    return "the port went away (device error: Windows error " + std::to_string(error) + ")";
  }

  std::shared_ptr<SerialSystem> m_system;
  SerialHandle m_handle;
  uint32_t m_comPort;
  std::string m_failure = "the port failed";
  uint32_t m_writeMs = kFirstWriteMs;
  FlushWatchdog m_watchdog;
};

std::string callFailed(SerialSystem& system, const char* call) {
  return std::string(call) + " failed (error " + std::to_string(system.lastError()) + ")";
}

// The line as the protocol needs it: 8N1 at `baud`, DTR and RTS raised, no
// flow control, no abort on errors; every other field as the driver reported.
bool configure(SerialSystem& system, SerialHandle port, uint32_t baud, std::string* why) {
  if (!system.clearCommError(port, nullptr, nullptr)) return *why = callFailed(system, "ClearCommError"), false;
  if (!system.setupComm(port, kQueueBytes, kQueueBytes)) return *why = callFailed(system, "SetupComm"), false;
  LineState line;
  if (!system.getCommState(port, &line)) return *why = callFailed(system, "GetCommState"), false;
  line.baudRate = baud;
  line.parityCheck = false;
  line.outxCtsFlow = false;
  line.outxDsrFlow = false;
  line.dtrControl = kDtrControlEnable;
  line.dsrSensitivity = false;
  line.outX = false;
  line.inX = false;
  line.rtsControl = kRtsControlEnable;
  line.abortOnError = false;
  line.byteSize = 8;
  line.parity = 0;
  line.stopBits = 0;
  if (!system.setCommState(port, line)) return *why = callFailed(system, "SetCommState"), false;
  // A USB serial port whose device declares no break signalling (a phone's
  // BootROM port on cdc-acm, under Wine) refuses to clear a break it cannot
  // have: not an error.
  if (!system.clearCommBreak(port) && system.lastError() != kErrorNotSupported)
    return *why = callFailed(system, "ClearCommBreak"), false;
  if (!system.purgeComm(port, kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear))
    return *why = callFailed(system, "PurgeComm"), false;
  return true;
}

}  // namespace

std::unique_ptr<SerialPortLink> openCommLink(std::shared_ptr<SerialSystem> system, uint32_t comPort, uint32_t baud,
                                             std::string* why) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%u", static_cast<unsigned>(comPort));
  const std::string portName = name + 4;
  const SerialHandle handle = system->openPort(name, false);
  if (handle == kNoHandle) {
    if (why) *why = portName + ": " + callFailed(*system, "CreateFileA");
    return nullptr;
  }
  // The link owns the handle from here: a failed set-up closes it.
  SerialSystem& calls = *system;
  auto link = std::make_unique<CommLink>(std::move(system), handle, comPort);
  std::string reason;
  if (!configure(calls, handle, baud, &reason)) {
    if (why) *why = portName + ": " + reason;
    return nullptr;
  }
  if (link->setTimeouts(kFirstReadMs, kFirstWriteMs) != kLinkOk) {
    if (why) *why = portName + ": " + callFailed(calls, "SetCommTimeouts");
    return nullptr;
  }
  return link;
}

}  // namespace hx
