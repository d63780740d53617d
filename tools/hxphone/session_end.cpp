#include "hxphone/session_end.h"

namespace hxphone {

const char* outcomeName(Outcome outcome) {
  switch (outcome) {
    case Outcome::Reset: return "reset";
    case Outcome::Unplugged: return "unplugged";
    case Outcome::Failed: return "failed";
    case Outcome::HostGone: return "host-gone";
    case Outcome::Silenced: return "silenced";
    case Outcome::Stopped: return "stopped";
  }
  return "?";
}

SessionEnd violation(const std::string& step, const std::string& expected, const std::string& got) {
  return {Outcome::Failed, step + ": expected " + expected + ", got " + got};
}

}  // namespace hxphone
