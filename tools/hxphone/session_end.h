#pragma once
// How a phone's session ends. Every step of the conversation returns an
// Ending: nothing while the conversation goes on, else the session's end and
// why. The end flows back up, step by step, to the phone's run, which logs
// and records it once.
#include <optional>
#include <string>
#include <utility>

namespace hxphone {

enum class Outcome {
  Reset,      // the host re-enabled the watchdog: the phone resets
  Unplugged,  // a fault unplugged the phone on purpose
  Failed,     // the host sent something the phone does not accept
  HostGone,   // the host closed the port or went silent
  Stopped,    // the phone's owner stopped it
  Silenced,   // a fault made the phone stop answering; it stayed until the host went
};

const char* outcomeName(Outcome outcome);

// The end of a session: its outcome and why, in words.
struct SessionEnd {
  Outcome outcome;
  std::string why;
};

// What a step of the session came to: nothing while the conversation goes
// on, else the session's end.
class [[nodiscard]] Ending {
 public:
  Ending() = default;
  Ending(SessionEnd end) : m_end(std::move(end)) {}  // a step returns its end as it is

  explicit operator bool() const { return m_end.has_value(); }
  // Valid when the session ends.
  const SessionEnd& end() const { return *m_end; }

 private:
  std::optional<SessionEnd> m_end;
};

// The conversation goes on.
inline const Ending kGoOn{};

// A protocol violation by the host: what the phone expected and what came.
SessionEnd violation(const std::string& step, const std::string& expected, const std::string& got);

}  // namespace hxphone
