#pragma once
// The module writes its log to standard output. While a run lives, this puts
// a pipe in place of descriptor 1 and reads it on a thread of its own, line
// by line, so that the log never mixes with what the run shows; what standard
// output was stays open for the run's own output. POSIX only.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

namespace hxflash {

class ModuleLogCapture {
 public:
  // Called on the log thread for every line, without its end of line;
  // `endPosition`: where the line ends in the stream of the module's log.
  using LineSink = std::function<void(std::string_view line, uint64_t endPosition)>;

  // Takes descriptor 1. Throws std::runtime_error when it cannot.
  explicit ModuleLogCapture(LineSink sink);
  // stop().
  ~ModuleLogCapture();
  ModuleLogCapture(const ModuleLogCapture&) = delete;
  ModuleLogCapture& operator=(const ModuleLogCapture&) = delete;

  // A descriptor of what standard output was (a terminal, a file, a pipe).
  int keptOutput() const { return m_kept; }
  // How far the module's log has come: every byte written before the call
  // lies before this position of the stream.
  uint64_t position() const;
  // Gives descriptor 1 back, reads what is left of the log and ends the
  // thread (waiting a bounded time for a writer that still holds the pipe).
  void stop();

 private:
  void readLines();
  void emit(std::string& line, uint64_t endPosition);

  LineSink m_sink;
  int m_kept = -1;
  int m_readEnd = -1;
  // Bytes taken from the pipe. Taking bytes and counting them is one step
  // under the lock, so that what waits in the pipe and what was taken add up
  // to what was written.
  mutable std::mutex m_taking;
  uint64_t m_read = 0;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};

}  // namespace hxflash
