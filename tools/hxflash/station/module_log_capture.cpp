#include "station/module_log_capture.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <stdexcept>

namespace hxflash {
namespace {

// A line longer than this (a long run of progress dots) is cut into pieces.
constexpr size_t kLongestLine = 4096;
constexpr int kPollStepMs = 100;
// After stop() gave descriptor 1 back, the longest wait for the rest.
constexpr auto kDrainLimit = std::chrono::seconds(2);

void closeQuietly(int fd) {
  if (fd >= 0) ::close(fd);
}

}  // namespace

ModuleLogCapture::ModuleLogCapture(LineSink sink) : m_sink(std::move(sink)) {
  std::fflush(stdout);
  int ends[2] = {-1, -1};
  m_kept = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  if (m_kept < 0 || ::pipe2(ends, O_CLOEXEC) != 0) {
    closeQuietly(m_kept);
    throw std::runtime_error("cannot take standard output for the module's log");
  }
  if (::dup2(ends[1], STDOUT_FILENO) < 0) {
    closeQuietly(ends[0]);
    closeQuietly(ends[1]);
    closeQuietly(m_kept);
    throw std::runtime_error("cannot take standard output for the module's log");
  }
  ::close(ends[1]);
  m_readEnd = ends[0];
  m_thread = std::thread([this] { readLines(); });
}

ModuleLogCapture::~ModuleLogCapture() {
  stop();
  closeQuietly(m_readEnd);
  closeQuietly(m_kept);
}

uint64_t ModuleLogCapture::position() const {
  std::lock_guard<std::mutex> lock(m_taking);
  int waiting = 0;
  if (::ioctl(m_readEnd, FIONREAD, &waiting) != 0 || waiting < 0) waiting = 0;
  return m_read + static_cast<uint64_t>(waiting);
}

void ModuleLogCapture::stop() {
  if (!m_thread.joinable()) return;
  std::fflush(stdout);
  // Standard output is the terminal again; the pipe's last writer is gone
  // once descriptor 1 no longer names it.
  ::dup2(m_kept, STDOUT_FILENO);
  m_stopping.store(true);
  m_thread.join();
}

void ModuleLogCapture::emit(std::string& line, uint64_t endPosition) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (!line.empty()) m_sink(line, endPosition);
  line.clear();
}

void ModuleLogCapture::readLines() {
  std::string line;
  bool onlyDots = true;  // so far, the line is the module's progress dots
  uint64_t taken = 0;    // the stream's bytes read so far
  char buffer[4096];
  std::chrono::steady_clock::time_point drainEnd{};
  for (;;) {
    if (m_stopping.load()) {
      const auto now = std::chrono::steady_clock::now();
      if (drainEnd == std::chrono::steady_clock::time_point{}) drainEnd = now + kDrainLimit;
      else if (now >= drainEnd) break;
    }
    pollfd p{m_readEnd, POLLIN, 0};
    const int ready = ::poll(&p, 1, kPollStepMs);
    if (ready < 0 && errno == EINTR) continue;
    if (ready <= 0) continue;
    uint64_t offset = 0;  // of buffer[0] in the stream
    ssize_t got = 0;
    {
      std::lock_guard<std::mutex> lock(m_taking);
      got = ::read(m_readEnd, buffer, sizeof buffer);
      offset = m_read;
      if (got > 0) m_read += static_cast<uint64_t>(got);
    }
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got <= 0) break;  // every writer has gone
    for (ssize_t i = 0; i < got; ++i) {
      const char c = buffer[i];
      const uint64_t position = offset + static_cast<uint64_t>(i);  // where c lies
      if (c == '\n') {
        emit(line, position + 1);
        onlyDots = true;
        continue;
      }
      // The first character after a run of progress dots, which the module
      // writes without a line break, begins a line of its own.
      if ((onlyDots && !line.empty() && c != '.') || line.size() >= kLongestLine) {
        emit(line, position);
        onlyDots = true;
      }
      line.push_back(c);
      onlyDots = onlyDots && c == '.';
    }
    taken = offset + static_cast<uint64_t>(got);
  }
  emit(line, taken);
}

}  // namespace hxflash
