// On Windows the module's log stays on standard output: the run shows
// time-stamped lines (or JSON lines), and module.log stays empty.
#include <fmt/core.h>

#include "run_logs.h"
#include "station_output.h"

namespace hxflash {
namespace {

class PlainOutput final : public StationOutput {
 public:
  PlainOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan) {
    if (choice.json) {
      m_report = makeJsonReport();
      fmt::print(stderr, "hxflash flash: logs in {}\n", logs.dir());
      return;
    }
    StationSetup setup;
    setup.verbose = choice.verbose;
    setup.logs = &logs;
    setup.plan = std::move(plan);
    setup.loop = choice.loop;
    m_report = makeLineReport(std::move(setup));
  }
};

}  // namespace

std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>&,
                                                 PortAtWork) {
  return std::make_unique<PlainOutput>(choice, logs, std::move(plan));
}

}  // namespace hxflash
