#pragma once
// How a phone's session ends. The protocol code throws SessionEnd from
// wherever the conversation stops; the phone's run loop catches it once.
#include <stdexcept>
#include <string>

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

class SessionEnd : public std::runtime_error {
 public:
  SessionEnd(Outcome outcome, const std::string& why) : std::runtime_error(why), m_outcome(outcome) {}
  Outcome outcome() const { return m_outcome; }

 private:
  Outcome m_outcome;
};

// A protocol violation by the host: what the phone expected and what came.
[[noreturn]] void violation(const std::string& step, const std::string& expected, const std::string& got);

}  // namespace hxphone
