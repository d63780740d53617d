#pragma once
// Where a flash run's output goes: the report the user sees (the live view
// on a terminal, time-stamped lines otherwise, or JSON lines), and the
// module's own log, kept apart from it in the run's log folder where the
// platform lets the run take it (station_output_posix.cpp).
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string_view>
#include <vector>

#include "flash_report.h"

namespace hxflash {

class RunLogs;

struct OutputChoice {
  bool json = false;
  bool verbose = false;
  bool loop = false;
};

class StationOutput {
 public:
  virtual ~StationOutput() = default;

  FlashReport& report() { return *m_report; }
  // How far the module's log has come (0 when it is not kept apart).
  virtual uint64_t logPosition() const { return 0; }
  // The module's log is read to its end and no longer kept apart.
  virtual void finishLog() {}

 protected:
  std::unique_ptr<FlashReport> m_report;
};

// The one port that may have written the line of the module's log that ends
// at `lineEnd` of its stream: only that port was talking to a phone since
// then. Nothing when that cannot be told.
using PortAtWork = std::function<std::optional<uint32_t>(uint64_t lineEnd)>;

// The port a line of the module's log came from, when that can be told: the
// line names it ("COM41: download failed ..."), the run serves one port, or
// `portAtWork` tells it.
std::optional<uint32_t> portOfModuleLine(std::string_view line, uint64_t lineEnd,
                                         const std::vector<uint32_t>& comPorts, const PortAtWork& portAtWork);

// Opens the output of a run on `comPorts`; `plan`: the bytes of a download,
// for the figures; `portAtWork`: as for portOfModuleLine.
std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>& comPorts,
                                                 PortAtWork portAtWork);

}  // namespace hxflash
