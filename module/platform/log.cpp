#include "platform/log.h"

#include <cstdarg>
#include <cstdio>
#include <mutex>

namespace hx {
namespace {

std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

LogSink& installedSink() {
  static LogSink sink;
  return sink;
}

// One write per text so that lines of parallel sessions do not tear.
void writeToStandardOutput(std::string_view text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

}  // namespace

void logMessage(const char* format, ...) {
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  const size_t length = static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1;
  const std::lock_guard<std::mutex> lock(sinkMutex());
  const LogSink& sink = installedSink();
  if (sink)
    sink(std::string_view(buffer, length));
  else
    writeToStandardOutput(std::string_view(buffer, length));
}

void setLogSink(LogSink sink) {
  const std::lock_guard<std::mutex> lock(sinkMutex());
  installedSink() = std::move(sink);
}

}  // namespace hx
