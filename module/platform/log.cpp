#include "platform/log.h"

#include <cstdio>
#include <mutex>

namespace hx {
namespace {

// Held while a line is delivered and while the sink is replaced: calls never
// overlap, and a replaced sink is never called again.
std::mutex& sinkMutex() {
  static std::mutex mutex;
  return mutex;
}

LogSink& installedSink() {
  static LogSink sink;
  return sink;
}

// One write per line, so that lines of parallel sessions never tear.
void writeToStandardOutput(std::string_view line) {
  std::string text;
  text.reserve(line.size() + 1);
  text.append(line).push_back('\n');
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fflush(stdout);
}

void deliver(unsigned comPort, int code, std::string_view line) {
  const std::lock_guard<std::mutex> lock(sinkMutex());
  if (const LogSink& sink = installedSink())
    sink(comPort, code, line);
  else
    writeToStandardOutput(line);
}

// Lines about the module as a whole may come from any session's thread.
// It touches the sink first, so that the sink outlives it at exit.
struct ModuleLog {
  ModuleLog() {
    sinkMutex();
    installedSink();
  }
  std::mutex mutex;
  LogLines lines{kModuleLogPort};
};

ModuleLog& moduleLog() {
  static ModuleLog log;
  return log;
}

}  // namespace

void setLogSink(LogSink sink) {
  const std::lock_guard<std::mutex> lock(sinkMutex());
  installedSink() = std::move(sink);
}

std::string formatLogText(const char* format, va_list args) {
  char buffer[kLogBufferSize];
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof buffer) return std::string(buffer, static_cast<size_t>(n));
  std::string cut(buffer, sizeof buffer - 1);
  if (cut.back() != '\n') cut.push_back('\n');
  return cut;
}

void LogLines::print(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatLogText(format, args);
  va_end(args);
  write(text);
}

void LogLines::write(std::string_view text) {
  for (size_t end = text.find('\n'); end != std::string_view::npos; end = text.find('\n')) {
    if (m_open.empty()) {
      deliver(m_comPort, 0, text.substr(0, end));
    } else {
      m_open.append(text.substr(0, end));
      deliver(m_comPort, 0, m_open);
      m_open.clear();
    }
    text.remove_prefix(end + 1);
  }
  m_open.append(text);
}

void LogLines::line(int code, std::string_view text) {
  endOpenLine();
  deliver(m_comPort, code, text);
}

void LogLines::endOpenLine() {
  if (m_open.empty()) return;
  deliver(m_comPort, 0, m_open);
  m_open.clear();
}

void logMessage(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatLogText(format, args);
  va_end(args);
  ModuleLog& log = moduleLog();
  const std::lock_guard<std::mutex> lock(log.mutex);
  log.lines.write(text);
}

void logMessageFor(unsigned comPort, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatLogText(format, args);
  va_end(args);
  LogLines lines(comPort);
  lines.write(text);
}

}  // namespace hx
