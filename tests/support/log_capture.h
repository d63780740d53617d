#pragma once
// Captures what the module logs while the object lives, instead of standard
// output: every line with its COM number and code.
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/log.h"

namespace hxtest {

struct LoggedLine {
  unsigned comPort;
  int code;
  std::string text;
};

class LogCapture {
 public:
  LogCapture() {
    hx::setLogSink([this](unsigned comPort, int code, std::string_view line) {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_lines.push_back({comPort, code, std::string(line)});
    });
  }
  ~LogCapture() { hx::setLogSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged so far, each line with its line end.
  std::string text() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    std::string text;
    for (const LoggedLine& line : m_lines) text.append(line.text).push_back('\n');
    return text;
  }

  std::vector<LoggedLine> lines() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_lines;
  }

 private:
  mutable std::mutex m_mutex;
  std::vector<LoggedLine> m_lines;
};

}  // namespace hxtest
