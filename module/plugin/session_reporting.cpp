#include "plugin/session_reporting.h"

#include "plugin/event_bridge.h"

namespace hx {

void SessionReporting::event(EventKind kind, int value, const char* text) {
  if ((kind == kEventStep || kind == kEventSubStep) && text) m_lastStatus = text;
  EngineEventProc(m_comPort, kind, value, text);
}

void SessionReporting::logText(std::string_view text) {
  m_lines.write(text);
  if (text.empty() || text.back() != '\n') return;
  text.remove_suffix(1);
  while (!text.empty() && text.back() == '.') text.remove_suffix(1);
  if (const size_t start = text.rfind('\n'); start != std::string_view::npos) text.remove_prefix(start + 1);
  m_lastStep = text;
}

void SessionReporting::noteWhy(std::string why) {
  if (m_why.empty()) m_why = std::move(why);
}

}  // namespace hx
