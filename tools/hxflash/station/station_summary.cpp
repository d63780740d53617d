#include "station/station_summary.h"

#include <algorithm>
#include <string_view>

#include <fmt/core.h>

#include <map>

#include "station/run_logs.h"

namespace hxflash {
namespace {

const char* outcomeText(PhoneOutcome outcome) {
  switch (outcome) {
    case PhoneOutcome::Flashed: return "flashed";
    case PhoneOutcome::FlashedResetNotAwaited: return "flashed (reset not awaited)";
    case PhoneOutcome::Failed: return "FAILED";
    case PhoneOutcome::Interrupted: return "INTERRUPTED: flash it again";
    case PhoneOutcome::NotFlashed: return "not flashed";
  }
  return "";
}

// One port's phones, in the order they came.
struct PortPhones {
  std::vector<const PhoneResult*> phones;
  double seconds = 0;
  std::string failedStep;  // of the last phone that failed
};

// "flashed" for one phone, "3 flashed", or "2 flashed, 1 FAILED".
std::string portResult(const PortPhones& port) {
  std::map<PhoneOutcome, size_t> counts;
  for (const PhoneResult* r : port.phones) ++counts[outcomeOf(*r)];
  if (counts.size() == 1 && port.phones.size() == 1) return outcomeText(counts.begin()->first);
  std::string text;
  for (const auto& [outcome, n] : counts) text += fmt::format("{}{} {}", text.empty() ? "" : ", ", n, outcomeText(outcome));
  return text;
}

}  // namespace

Tally tally(const std::vector<PhoneResult>& results) {
  Tally t;
  for (const PhoneResult& r : results) {
    switch (outcomeOf(r)) {
      case PhoneOutcome::Flashed:
      case PhoneOutcome::FlashedResetNotAwaited: ++t.flashed; break;
      case PhoneOutcome::Failed: ++t.failed; break;
      case PhoneOutcome::Interrupted:
      case PhoneOutcome::NotFlashed: ++t.notFlashed; break;
    }
  }
  return t;
}

std::vector<std::string> summaryLines(const std::vector<PhoneResult>& results, const RunEnd& end,
                                      const RunLogs* logs) {
  std::map<uint32_t, PortPhones> ports;
  for (const PhoneResult& r : results) {
    PortPhones& port = ports[r.comPort];
    port.phones.push_back(&r);
    port.seconds += r.seconds;
    if (outcomeOf(r) == PhoneOutcome::Failed) port.failedStep = failedStep(r.events);
  }
  // The result and step columns are as wide as their longest entry.
  size_t resultWidth = std::string_view("result").size(), stepWidth = std::string_view("failed step").size();
  for (const auto& [com, port] : ports) {
    resultWidth = std::max(resultWidth, portResult(port).size());
    stepWidth = std::max(stepWidth, port.failedStep.size());
  }
  std::vector<std::string> lines;
  lines.push_back("");
  lines.push_back(fmt::format("{:<6} {:>5}  {:<{}} {:>7}  {:<{}} {}", "port", "phones", "result", resultWidth, "time",
                              "failed step", stepWidth, logs ? "log" : ""));
  for (const auto& [com, port] : ports) {
    const std::string log = logs ? RunLogs::portLogName(com) : "";
    lines.push_back(fmt::format("COM{:<3} {:>5}  {:<{}} {:>6.1f}s  {:<{}} {}", com, port.phones.size(),
                                portResult(port), resultWidth, port.seconds, port.failedStep, stepWidth, log));
    const auto tail = logs ? logs->failureTail(com) : std::nullopt;
    if (!tail) continue;
    lines.push_back(fmt::format("       phone {}: its last reports, and the module's log since the last but one:",
                                tail->phone));
    for (const std::string& e : tail->events) lines.push_back("         " + e);
    for (const std::string& l : tail->moduleLines) lines.push_back("         " + l);
  }
  for (uint32_t com : end.presentNotFlashed)
    lines.push_back(fmt::format("COM{}: a phone is plugged in and was never flashed: unplug it, then plug it in "
                                "again while a run waits for it",
                                com));
  const Tally t = tally(results);
  lines.push_back("");
  lines.push_back(fmt::format("{} of {} phones flashed in {:.1f} s{}", t.flashed, results.size(), end.seconds,
                              end.interrupted ? " (interrupted)" : ""));
  if (logs) lines.push_back(fmt::format("logs in {}", logs->dir()));
  return lines;
}

void writeSummary(std::FILE* out, const std::vector<PhoneResult>& results, const RunEnd& end, const RunLogs* logs) {
  std::string text;
  for (const std::string& line : summaryLines(results, end, logs)) text += line + "\n";
  std::fwrite(text.data(), 1, text.size(), out);
  std::fflush(out);
}

}  // namespace hxflash
