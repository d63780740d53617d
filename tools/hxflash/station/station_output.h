#pragma once
// Where a flash run's output goes: the report the user sees (the live view
// on a terminal, time-stamped lines otherwise, or JSON lines), and the
// module's own log, kept apart from it in the run's log folder. A module
// that hands its lines over (SetLogSink) gives each its port; the log of one
// that does not is taken from standard output where the platform lets the
// run take it (station_output_posix.cpp), every line the module's.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "station/flash_report.h"

namespace hxflash {

class RunLogs;

struct OutputChoice {
  bool json = false;
  bool verbose = false;
  bool loop = false;
};

class StationOutput {
 public:
  explicit StationOutput(RunLogs& logs) : m_logs(logs) {}
  virtual ~StationOutput() = default;

  FlashReport& report() { return *m_report; }
  // How far the module's log has come: the lines taken so far.
  virtual uint64_t logPosition() const { return m_moduleLines.load(); }
  // The module's log is read to its end and no longer kept apart.
  virtual void finishLog() {}

  // A line the module handed over: `comPort` is the session's COM number, 0
  // for a line about the module as a whole. Kept in module.log (and, with
  // JSON and -v, sent as a JSON line).
  void moduleLine(unsigned comPort, std::string_view line);

 protected:
  // A line of the module's log that ends at `endPosition` of its stream,
  // from a module that cannot say whose it is.
  void unattributedModuleLine(std::string_view line, uint64_t endPosition);

  std::unique_ptr<FlashReport> m_report;

 private:
  RunLogs& m_logs;
  std::atomic<uint64_t> m_moduleLines{0};
};

// Opens the output of a run on `comPorts`; `plan`: the bytes of a download,
// for the figures. With `moduleHandsOverLines`, the module's lines come
// through moduleLine; otherwise the run takes them from standard output
// where it can.
std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>& comPorts, bool moduleHandsOverLines);

}  // namespace hxflash
