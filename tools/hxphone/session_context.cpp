#include "hxphone/session_context.h"

#include "hxphone/session_end.h"

namespace hxphone {

void SessionContext::beginStep(const std::string& step) {
  uint32_t n = ++stepCounts[step];
  log.detail("step " + step + " #" + std::to_string(n));
  const FaultPlan& faults = options.faults;
  if (faults.unplugAtStep == step && faults.unplugAtOccurrence == n)
    throw SessionEnd(Outcome::Unplugged, "unplugged at step " + step + " #" + std::to_string(n));
}

uint32_t SessionContext::stepCount(const std::string& step) const {
  auto it = stepCounts.find(step);
  return it == stepCounts.end() ? 0 : it->second;
}

}  // namespace hxphone
