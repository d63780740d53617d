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

void violation(const std::string& step, const std::string& expected, const std::string& got) {
  throw SessionEnd(Outcome::Failed, step + ": expected " + expected + ", got " + got);
}

}  // namespace hxphone
