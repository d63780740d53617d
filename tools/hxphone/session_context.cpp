#include "hxphone/session_context.h"

namespace hxphone {

Ending SessionContext::beginStep(const std::string& step) {
  uint32_t n = ++stepCounts[step];
  log.detail("step " + step + " #" + std::to_string(n));
  if (Ending end = link.stepBegins(step, n)) return end;
  const FaultPlan& faults = options.faults;
  const std::string at = " at step " + step + " #" + std::to_string(n);
  auto strikes = [&](const std::string& faultStep, uint32_t occurrence) {
    if (faultStep != step || occurrence != n) return false;
    faultStruck = std::chrono::steady_clock::now();
    return true;
  };
  if (strikes(faults.unplugAtStep, faults.unplugAtOccurrence)) return SessionEnd{Outcome::Unplugged, "unplugged" + at};
  if (strikes(faults.statusAtStep, faults.statusAtOccurrence)) {
    if (Ending end = port.writeBytes(kUnexpectedAnswer, sizeof kUnexpectedAnswer)) return end;
    return SessionEnd{Outcome::Silenced, "answered an unexpected status, then fell silent" + at};
  }
  if (strikes(faults.silentAtStep, faults.silentAtOccurrence)) return SessionEnd{Outcome::Silenced, "fell silent" + at};
  return kGoOn;
}

uint32_t SessionContext::stepCount(const std::string& step) const {
  auto it = stepCounts.find(step);
  return it == stepCounts.end() ? 0 : it->second;
}

}  // namespace hxphone
