#pragma once
// What one session's steps report to, owned by its controller: engine events
// go to the host through the event bridge, log lines carry the session's COM
// number, and what a failure line needs is kept: the last status reported,
// the last line logged and the failing step's own words.
#include <cstdint>
#include <string>
#include <string_view>

#include "platform/log.h"
#include "protocol/session_report.h"

namespace hx {

class SessionReporting final : public SessionReport {
 public:
  explicit SessionReporting(uint32_t comPort) : m_comPort(comPort), m_lines(comPort) {}

  void event(EventKind kind, int value, const char* text) override;
  void logText(std::string_view text) override;
  void noteWhy(std::string why) override;

  // A whole line of this session carrying `code`.
  void line(int code, const std::string& text) { m_lines.line(code, text); }

  uint32_t comPort() const { return m_comPort; }
  const std::string& lastStatus() const { return m_lastStatus; }
  // The last whole line logged, without its line end and trailing dots
  // ("Sending DA1" for "Sending DA1...").
  const std::string& lastStep() const { return m_lastStep; }
  const std::string& why() const { return m_why; }

 private:
  uint32_t m_comPort;
  LogLines m_lines;
  std::string m_lastStatus;
  std::string m_lastStep;
  std::string m_why;
};

}  // namespace hx
