#pragma once
// What `hxflash flash` tells its user: lines for people, or JSON lines for
// programs (--json: standard output carries only JSON, one line per event,
// per result and a summary at the end; notices go to standard error).
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "flash_runner.h"

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

struct RunEnd {
  bool interrupted = false;  // by Ctrl-C
  double seconds = 0;
  int exitStatus = 0;
};

// The exit status of a run with these results.
int exitStatusFor(const std::vector<PhoneResult>& results, bool interrupted);

class FlashReport {
 public:
  virtual ~FlashReport() = default;
  // About one port: how it waits (from the port's thread).
  virtual void portNotice(uint32_t comPort, const std::string& text) = 0;
  // The run stops taking phones (Ctrl-C); `text` says what happens now.
  virtual void stopping(const std::string& text) = 0;
  // What a session reported (from the port's thread).
  virtual void event(uint32_t comPort, int phone, const HostEvent& event) = 0;
  // Every phone's result, then the summary.
  virtual void end(const std::vector<PhoneResult>& results, const RunEnd& end) = 0;
};

// For people, on standard output; progress at each quarter unless verbose.
std::unique_ptr<FlashReport> makeHumanReport(bool verbose);

// JSON lines. It takes standard output for itself: whatever else is printed
// there from then on (the module's log lines) goes to standard error.
std::unique_ptr<FlashReport> makeJsonReport();

}  // namespace hxflash
