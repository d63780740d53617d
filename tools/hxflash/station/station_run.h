#pragma once
// One flash run at a station, as `flash` and `demo` run it: the module's
// sessions, the report people or programs see, the run's logs with the
// module's lines in them, and the summary. A command adds what only it does
// (the ports it claims, Ctrl-C, phones already there) through the options it
// hands over.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "station/flash_report.h"
#include "host/flash_runner.h"
#include "station/run_logs.h"
#include "station/station_output.h"
#include "station/transfer_plan.h"

namespace hxflash {

// What a command adds to a run: told of every report of a session, every
// line the module hands over and each session's wait for its next phone,
// with the run's report to add its notices to. Called from the ports'
// threads, before the run shows and logs what it is told.
class StationHooks {
 public:
  virtual ~StationHooks() = default;
  virtual void event(uint32_t /*comPort*/, const HostEvent& /*e*/, FlashReport& /*report*/) {}
  virtual void moduleLine(unsigned /*comPort*/, const std::string& /*line*/, FlashReport& /*report*/) {}
  virtual void waiting(uint32_t /*comPort*/, int /*phone*/, FlashReport& /*report*/) {}
};

struct StationRunSetup {
  // The module, the package, the ports, the phones per port, the time scale.
  // The report, log and wait callbacks are the run's.
  FlashOptions flash;
  OutputChoice output;
  std::string logDir;  // empty: a new folder in the temporary folder
  TransferPlan plan;
  StationHooks* hooks = nullptr;  // may be null; outlives the run
  // Told when a phone's turn has ended, before the run reports the end: what
  // it keeps of the phone is kept before anyone is told. May be empty.
  std::function<void(const PhoneResult&, const RunLogs&, FlashReport&)> keepPhone;
};

class StationRun {
 public:
  // Loads the module once to see what it offers (std::runtime_error when it
  // cannot be loaded: nothing is made then), makes the log folder with this
  // run's header, and opens the output.
  explicit StationRun(StationRunSetup setup);
  // The module's log is read to its end before the sessions go.
  ~StationRun();
  StationRun(const StationRun&) = delete;
  StationRun& operator=(const StationRun&) = delete;

  FlashRun& run() { return *m_run; }
  FlashReport& report() { return m_output->report(); }
  RunLogs& logs() { return m_logs; }

  // Starts the sessions. A module that does not start leaves no fresh log
  // folder behind; the error goes on.
  void start();
  // The module's log read to its end, then the results and the summary.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end);

 private:
  FlashOptions wired(StationRunSetup& setup);

  StationHooks m_noHooks;
  StationHooks* m_hooks;
  std::function<void(const PhoneResult&, const RunLogs&, FlashReport&)> m_keepPhone;
  bool m_moduleHandsOver;
  RunLogs m_logs;
  std::unique_ptr<StationOutput> m_output;
  std::unique_ptr<FlashRun> m_run;
};

}  // namespace hxflash
