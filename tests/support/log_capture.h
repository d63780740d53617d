#pragma once
// Captures what the module logs while the object lives, instead of standard
// output.
#include <mutex>
#include <string>
#include <string_view>

#include "platform/log.h"

namespace hxtest {

class LogCapture {
 public:
  LogCapture() {
    hx::setLogSink([this](std::string_view text) {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_text.append(text);
    });
  }
  ~LogCapture() { hx::setLogSink({}); }
  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // Everything logged so far.
  std::string text() const {
    const std::lock_guard<std::mutex> lock(m_mutex);
    return m_text;
  }

 private:
  mutable std::mutex m_mutex;
  std::string m_text;
};

}  // namespace hxtest
