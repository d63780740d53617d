// On Windows the run shows time-stamped lines (or JSON lines). A module that
// hands its lines over gets them into module.log; the log of one that does
// not stays on standard output.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <fmt/core.h>

#include "station/run_logs.h"
#include "station/station_output.h"

namespace hxflash {
namespace {

class PlainOutput final : public StationOutput {
 public:
  PlainOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan) : StationOutput(logs) {
    if (choice.json) {
      m_report = makeJsonReport(choice.verbose, &logs);
      return;
    }
    StationSetup setup;
    setup.verbose = choice.verbose;
    setup.logs = &logs;
    setup.plan = std::move(plan);
    setup.loop = choice.loop;
    DWORD mode = 0;
    setup.console = GetConsoleMode(GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
    m_report = makeLineReport(std::move(setup));
  }
};

}  // namespace

std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>&, bool) {
  return std::make_unique<PlainOutput>(choice, logs, std::move(plan));
}

}  // namespace hxflash
