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

#include "flash_report.h"
#include "flash_runner.h"
#include "run_logs.h"
#include "station_output.h"
#include "transfer_plan.h"

namespace hxflash {

struct StationRunSetup {
  // The module, the package, the ports, the phones per port, the time scale;
  // onWaiting as the command needs it. The report and log callbacks are the run's.
  FlashOptions flash;
  OutputChoice output;
  std::string logDir;  // empty: a new folder in the temporary folder
  TransferPlan plan;
  // Called for every report of a session before the run shows and logs it,
  // from the port's thread; may be empty.
  std::function<void(uint32_t comPort, const HostEvent&)> onEvent;
  // Called for every line the module hands over before the run keeps it,
  // from the thread that writes it; may be empty.
  std::function<void(unsigned comPort, const std::string& line)> onModuleLine;
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

  bool m_moduleHandsOver;
  RunLogs m_logs;
  std::unique_ptr<StationOutput> m_output;
  std::unique_ptr<FlashRun> m_run;
};

}  // namespace hxflash
