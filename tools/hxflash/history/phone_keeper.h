#pragma once
// What a flash run keeps of its phones, as the flash command sees it: a
// record of each phone when its turn ends. hxflash on Linux keeps a station
// history (station_history.h); hxflash.exe keeps none, and its --json lines
// stay its record.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/history_options.h"
#include "history/phone_record.h"
#include "host/flash_runner.h"
#include "station/flash_report.h"
#include "station/run_logs.h"
#include "station/transfer_plan.h"

namespace hxflash {

// What the records of a run share, and what the run knows of its ports.
struct StationHistorySetup {
  std::string station;
  std::string package;  // as given
  TransferPlan plan;    // for the bytes a phone was sent
  // What a port maps to, for the record.
  std::function<std::string(uint32_t comPort)> device;
  // Whether the port's phone was plugged in before the run and is still
  // there unflashed.
  std::function<bool(uint32_t comPort)> present;
};

class PhoneKeeper {
 public:
  virtual ~PhoneKeeper() = default;
  // A phone's turn has ended: its record is committed when this returns. A
  // port whose wait ended without a phone has no record. From the port's thread.
  virtual void phoneEnded(const PhoneResult& result, const RunLogs& logs, FlashReport& report) = 0;
  // The run ends at once: the phones still under way are recorded as they stand.
  virtual void runEndsAtOnce(const std::vector<PhoneResult>& phones, const RunLogs& logs, FlashReport& report) = 0;
  // The run has ended: what is still to send gets a short while.
  virtual void finish() = 0;
};

// The history the options choose, opened before any phone is waited for;
// nothing with --no-history. Throws HistoryRefused with the sentence that
// says why it cannot be used.
std::unique_ptr<PhoneKeeper> openPhoneKeeper(const HistoryOptions& options, StationHistorySetup setup);

}  // namespace hxflash
