#pragma once
// A session's reporting for tests: records the engine events a step sends and
// what it gives as its reason; its log lines go to the module's log with the
// recorder's COM number, as a session's do.
#include <string>
#include <string_view>
#include <vector>

#include "platform/clock.h"
#include "platform/log.h"
#include "protocol/session_report.h"

namespace hx::test {

struct RecordedEvent {
  unsigned key;
  unsigned kind;
  int value;
  std::string text;
  bool operator==(const RecordedEvent&) const = default;
};

class EventRecorder final : public SessionReport {
 public:
  explicit EventRecorder(unsigned comPort = 0) : m_lines(comPort) {}

  void event(EventKind kind, int value, const char* text) override {
    events.push_back({m_lines.comPort(), kind, value, text ? text : ""});
  }
  void logText(std::string_view text) override { m_lines.write(text); }
  void noteWhy(std::string reason) override { why = std::move(reason); }

  std::vector<RecordedEvent> events;
  std::string why;

  std::vector<int> progress() const {
    std::vector<int> out;
    for (const auto& e : events)
      if (e.kind == kEventProgress) out.push_back(e.value);
    return out;
  }
  std::vector<std::string> texts(unsigned kind) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.kind == kind) out.push_back(e.text);
    return out;
  }

 private:
  LogLines m_lines;
};

// A reporting whose events no test looks at; its lines still reach the log.
inline EventRecorder& quiet() {
  thread_local EventRecorder recorder;
  recorder.events.clear();
  return recorder;
}

// Runs the clock fast while alive, so bounded waits on a silent script end quickly.
class FastClock {
 public:
  explicit FastClock(double factor = 1e-5) { setTimeScale(factor); }
  ~FastClock() { setTimeScale(1.0); }
};

}  // namespace hx::test
