#pragma once
// What `hxflash flash` tells its user: a live view of every port on a
// terminal (terminal_view.h), time-stamped lines for people otherwise, or
// JSON lines for programs (--json: standard output carries only JSON, one
// line per event, per result and a summary at the end; notices go to
// standard error).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "host/flash_runner.h"
#include "station/transfer_plan.h"

namespace hxflash {

// How a phone's turn ended, or stood when the run had to end.
enum class PhoneOutcome {
  Flashed,
  FlashedResetNotAwaited,  // written; the run ended during its reset countdown
  Failed,
  Interrupted,             // the run ended during its transfer: flash it again
  NotFlashed,              // no phone connected before the run stopped waiting
};

PhoneOutcome outcomeOf(const PhoneResult& result);
// The outcome's name in JSON and the logs: "flashed", "failed", ...
const char* outcomeName(PhoneOutcome outcome);

struct RunEnd {
  bool interrupted = false;  // by Ctrl-C
  double seconds = 0;
  int exitStatus = 0;
  // Ports whose session waited while a phone was plugged in already, and
  // that phone never came anew: it is there, and not flashed.
  std::vector<uint32_t> presentNotFlashed = {};
};

// The exit status of a run with these results: 1 when a phone failed or was
// cut short by a second Ctrl-C; otherwise, unless in station mode (`loop`),
// whose normal end is Ctrl-C, 130 when Ctrl-C left a phone unflashed (1
// without Ctrl-C); otherwise 0. A phone in its reset countdown is flashed.
int exitStatusFor(const std::vector<PhoneResult>& results, bool interrupted, bool loop = false);

class FlashReport {
 public:
  virtual ~FlashReport() = default;
  // About one port: how it waits (from the port's thread).
  virtual void portNotice(uint32_t comPort, const std::string& text) = 0;
  // The run stops taking phones (Ctrl-C); `text` says what happens now.
  virtual void stopping(const std::string& text) = 0;
  // What a session reported (from the port's thread).
  virtual void event(uint32_t comPort, int phone, const HostEvent& event) = 0;
  // A phone's turn has ended (from the port's thread).
  virtual void phoneEnded(const PhoneResult&) {}
  // A line of the module (0: about the module as a whole), for a report that shows them.
  virtual void moduleLine(unsigned, std::string_view) {}
  // Every phone's result, then the summary.
  virtual void end(const std::vector<PhoneResult>& results, const RunEnd& end) = 0;
};

class RunLogs;

// What the reports for people show besides the events.
struct StationSetup {
  bool verbose = false;         // every report of the sessions, progress and countdown too
  std::FILE* out = stdout;      // where the report writes; not closed
  const RunLogs* logs = nullptr;  // the log folder, named at the start and the end, and failures' tails
  TransferPlan plan;            // the bytes of a download, for the figures
  bool loop = false;            // station mode: the summary counts phones per port
  bool console = false;         // `out` is a console: a countdown is one line, rewritten each second
};

// For people: one time-stamped line per event of a port (a phone connects,
// each step with the share of the whole download, an error, the reset
// countdown, the phone's result), then the summary. Every report of the
// sessions when verbose.
std::unique_ptr<FlashReport> makeLineReport(StationSetup setup);

// JSON lines, each with its time: events, notices, results and the summary
// (which names the log folder of `logs`); with `verbose` the module's lines
// too. It takes standard output for itself: whatever else is printed there
// from then on goes to standard error.
std::unique_ptr<FlashReport> makeJsonReport(bool verbose, const RunLogs* logs);

// The line a refused run writes with --json.
std::string jsonRefusal(const std::string& reason);

}  // namespace hxflash
