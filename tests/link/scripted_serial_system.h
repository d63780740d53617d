#pragma once
// A scripted system for the protocol link and the port manager on Windows:
// calls that fail with a given error code, a line state to report, how much a
// write takes and how long, what each read gives, overlapped requests that
// stay pending, a flush that hangs until the thread's I/O is cancelled (or the
// test lets it go), and error flags the port holds. As the system does, a
// cancel that comes while the flush is not pending cancels nothing. It records every call in order and
// counts the handles opened and not yet closed. Safe for the link's watchdog
// thread.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/serial_system.h"

namespace hxtest {

class ScriptedSerialSystem final : public hx::SerialSystem {
 public:
  static constexpr uint32_t kInvalidParameter = 87;  // ERROR_INVALID_PARAMETER

  // Calls by name that fail, with the error each leaves.
  std::map<std::string, uint32_t> failing;
  // What GetCommState reports.
  hx::LineState reported{.baudRate = 9600, .binary = true, .txContinueOnXoff = true, .errorCharOn = true,
                         .nullStripping = true, .abortOnError = true, .xonLimit = 2048, .xoffLimit = 512,
                         .byteSize = 7, .parity = 2, .stopBits = 2, .xonChar = 0x11, .xoffChar = 0x13,
                         .errorChar = '?', .eofChar = 0x1A, .eventChar = 0x7E};
  // How many bytes each WriteFile takes; all when unset.
  std::optional<uint32_t> writeTakes;
  // How long each WriteFile lasts (a device that takes its bytes slowly).
  std::chrono::milliseconds writeLasts{0};
  // What each ReadFile gives, in order; an empty entry or none left is a
  // read that times out with nothing.
  std::deque<std::vector<uint8_t>> reads;
  // The flush waits until the thread's I/O is cancelled or release() is called.
  bool flushHangs = false;
  // A hanging flush becomes pending only after a cancel has come and been
  // dropped: the gap between the call and its wait.
  bool flushPendsAfterADroppedCancel = false;
  // Overlapped calls by name ("WriteFile", "ReadFile") that do not finish at
  // once: they fail with kErrorIoPending, and GetOverlappedResult gives their
  // outcome (fails as `failing` says for it).
  std::set<std::string> pending;
  // Whether a pending read's event is signalled within the wait.
  bool requestSignalled = true;
  // The error flags ClearCommError reports (the next of `commErrorsInTurn`
  // while any is left), and the error it leaves after flags.
  uint32_t commErrors = 0;
  std::deque<uint32_t> commErrorsInTurn;
  uint32_t errorAfterFlags = 0;

  // Recorded.
  std::vector<hx::LineState> linesSet;
  std::vector<hx::CommTimeouts> timeoutsSet;
  std::vector<uint32_t> purges;
  std::vector<uint32_t> masks;
  std::vector<uint32_t> escapes;
  std::vector<uint32_t> waits;   // WaitForSingleObject's bounds, in ms
  std::vector<uint32_t> pauses;  // the pauses taken, in ms (none is slept)
  std::vector<uint8_t> sent;
  bool openedOverlapped = false;

  std::vector<std::string> calls() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_calls;
  }
  int openHandles() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_openHandles;
  }
  int cancels() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancels;
  }
  // The hanging flushes a cancel ended (not the script's own bound).
  int cancelledFlushes() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_cancelledFlushes;
  }
  // Lets a hanging flush return (successfully).
  void release() {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_released = true;
    m_wake.notify_all();
  }

  uint32_t lastError() override { return m_lastError; }

  hx::SerialHandle openPort(const std::string& deviceName, bool overlapped) override {
    if (!call("CreateFileA")) return hx::kNoHandle;
    std::lock_guard<std::mutex> lock(m_mutex);
    m_deviceName = deviceName;
    openedOverlapped = overlapped;
    ++m_openHandles;
    return kPort;
  }
  void closeHandle(hx::SerialHandle) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("CloseHandle");
    --m_openHandles;
  }
  bool clearCommError(hx::SerialHandle, uint32_t* errors, uint32_t* queuedInput) override {
    uint32_t flags = commErrors;
    if (!commErrorsInTurn.empty()) {
      flags = commErrorsInTurn.front();
      commErrorsInTurn.pop_front();
    }
    if (errors) *errors = flags;
    if (queuedInput) *queuedInput = reads.empty() ? 0 : static_cast<uint32_t>(reads.front().size());
    if (!call("ClearCommError")) return false;
    if (flags != 0) m_lastError = errorAfterFlags;
    return true;
  }
  bool setupComm(hx::SerialHandle, uint32_t inputBytes, uint32_t outputBytes) override {
    queueBytes = {inputBytes, outputBytes};
    return call("SetupComm");
  }
  bool getCommState(hx::SerialHandle, hx::LineState* line) override {
    if (!call("GetCommState")) return false;
    *line = reported;
    return true;
  }
  bool setCommState(hx::SerialHandle, const hx::LineState& line) override {
    linesSet.push_back(line);
    return call("SetCommState");
  }
  bool clearCommBreak(hx::SerialHandle) override { return call("ClearCommBreak"); }
  bool purgeComm(hx::SerialHandle, uint32_t flags) override {
    purges.push_back(flags);
    return call("PurgeComm");
  }
  bool setCommTimeouts(hx::SerialHandle, const hx::CommTimeouts& timeouts) override {
    timeoutsSet.push_back(timeouts);
    return call("SetCommTimeouts");
  }
  bool writeFile(hx::SerialHandle, const uint8_t* bytes, uint32_t count, uint32_t* written) override {
    *written = 0;
    if (!call("WriteFile")) return false;
    std::this_thread::sleep_for(writeLasts);
    *written = writeTakes ? std::min(*writeTakes, count) : count;
    sent.insert(sent.end(), bytes, bytes + *written);
    return true;
  }
  bool readFile(hx::SerialHandle, uint8_t* dest, uint32_t count, uint32_t* got) override {
    *got = 0;
    if (!call("ReadFile")) return false;
    if (reads.empty()) return true;
    const std::vector<uint8_t> bytes = std::move(reads.front());
    reads.pop_front();
    *got = static_cast<uint32_t>(std::min<size_t>(bytes.size(), count));
    std::copy(bytes.begin(), bytes.begin() + *got, dest);
    return true;
  }
  bool flushFileBuffers(hx::SerialHandle) override {
    if (!call("FlushFileBuffers")) return false;
    if (!flushHangs) return true;
    std::unique_lock<std::mutex> lock(m_mutex);
    m_released = false;
    m_cancelled = false;
    // Generous bounds of its own, so that a broken watchdog fails the test
    // instead of hanging it.
    if (flushPendsAfterADroppedCancel) {
      const int dropped = m_droppedCancels;
      m_wake.wait_for(lock, kHangBound, [&] { return m_droppedCancels > dropped; });
    }
    m_flushPending = true;
    m_wake.wait_for(lock, kHangBound, [&] { return m_cancelled || m_released; });
    m_flushPending = false;
    if (!m_cancelled) return true;
    ++m_cancelledFlushes;
    m_lastError = 995;  // ERROR_OPERATION_ABORTED
    return false;
  }
  bool setCommMask(hx::SerialHandle, uint32_t events) override {
    masks.push_back(events);
    return call("SetCommMask");
  }
  bool escapeCommFunction(hx::SerialHandle, uint32_t function) override {
    escapes.push_back(function);
    return call("EscapeCommFunction");
  }
  hx::SerialHandle createRequest() override {
    if (!call("CreateEventA")) return hx::kNoHandle;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_openHandles;
    return kFirstRequest + m_requests++;
  }
  void closeRequest(hx::SerialHandle) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("CloseEvent");
    --m_openHandles;
  }
  bool writeFileOverlapped(hx::SerialHandle port, const void* data, uint32_t count, uint32_t* written,
                           hx::SerialHandle) override {
    if (pending.count("WriteFile") != 0) return startPending("WriteFile", count);
    return writeFile(port, static_cast<const uint8_t*>(data), count, written);
  }
  bool readFileOverlapped(hx::SerialHandle port, void* dest, uint32_t count, uint32_t* got, hx::SerialHandle) override {
    if (pending.count("ReadFile") != 0) return startPending("ReadFile", count);
    return readFile(port, static_cast<uint8_t*>(dest), count, got);
  }
  bool getOverlappedResult(hx::SerialHandle, hx::SerialHandle, uint32_t* transferred, bool) override {
    *transferred = 0;
    if (!call("GetOverlappedResult")) return false;
    *transferred = m_pendingCount;
    return true;
  }
  bool waitForRequest(hx::SerialHandle, uint32_t ms) override {
    call("WaitForSingleObject");
    waits.push_back(ms);
    return requestSignalled;
  }
  void pause(uint32_t ms) override { pauses.push_back(ms); }
  bool cancelIoEx(hx::SerialHandle, hx::SerialHandle) override { return call("CancelIoEx"); }

  hx::SerialHandle openCurrentThread() override {
    if (!call("OpenThread")) return hx::kNoHandle;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_openHandles;
    m_threads.push_back(std::this_thread::get_id());
    return kFirstThread + m_threads.size() - 1;
  }
  bool isCurrentThread(hx::SerialHandle thread) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    const size_t index = thread - kFirstThread;
    return index < m_threads.size() && m_threads[index] == std::this_thread::get_id();
  }
  void cancelThreadIo(hx::SerialHandle) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back("CancelSynchronousIo");
    ++m_cancels;
    if (m_flushPending)
      m_cancelled = true;
    else
      ++m_droppedCancels;
    m_wake.notify_all();
  }

  std::pair<uint32_t, uint32_t> queueBytes{};
  std::string deviceName() const {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_deviceName;
  }

 private:
  static constexpr hx::SerialHandle kPort = 0x100;
  static constexpr hx::SerialHandle kFirstThread = 0x200;
  static constexpr hx::SerialHandle kFirstRequest = 0x300;
  static constexpr std::chrono::seconds kHangBound{30};

  // An overlapped call that goes on in the background.
  bool startPending(const std::string& name, uint32_t count) {
    if (!call(name)) return false;
    m_pendingCount = count;
    m_lastError = hx::kErrorIoPending;
    return false;
  }

  // Records the call; false, with its error left, when the script fails it.
  bool call(const std::string& name) {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_calls.push_back(name);
    const auto it = failing.find(name);
    if (it == failing.end()) return true;
    m_lastError = it->second;
    return false;
  }

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::vector<std::string> m_calls;
  std::vector<std::thread::id> m_threads;
  std::string m_deviceName;
  uint32_t m_lastError = 0;
  int m_openHandles = 0;
  int m_cancels = 0;
  int m_droppedCancels = 0;
  int m_cancelledFlushes = 0;
  int m_requests = 0;
  uint32_t m_pendingCount = 0;
  bool m_cancelled = false;
  bool m_flushPending = false;
  bool m_released = false;
};

}  // namespace hxtest
