#pragma once
// A flash run's history: every phone's record kept in the station's file
// when its turn ends, before the run reports that end, and sent on to the
// centre's server by a thread of its own.
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "history/history_options.h"
#include "history/phone_keeper.h"
#include "history/local_history.h"
#include "history/outbox_sender.h"
#include "host/flash_runner.h"
#include "station/flash_report.h"
#include "station/run_logs.h"
#include "station/transfer_plan.h"

namespace hxflash {

class StationHistory final : public PhoneKeeper {
 public:
  // Opens the station's file (HistoryRefused when it must not be used) and,
  // with a server, starts sending what its outbox holds.
  StationHistory(const HistoryPlaces& places, StationHistorySetup setup);
  ~StationHistory() override;
  StationHistory(const StationHistory&) = delete;
  StationHistory& operator=(const StationHistory&) = delete;

  // A phone's turn has ended: its record is committed when this returns. A
  // port whose wait ended without a phone has no record. From the port's thread.
  void phoneEnded(const PhoneResult& result, const RunLogs& logs, FlashReport& report) override;
  // The run ends at once: the phones still under way are recorded as they stand.
  void runEndsAtOnce(const std::vector<PhoneResult>& phones, const RunLogs& logs, FlashReport& report) override;
  // The run has ended: the sender gets a short while to empty the outbox.
  void finish() override;

 private:
  void keep(const PhoneResult& result, const RunLogs& logs, FlashReport& report);

  StationHistorySetup m_setup;
  std::optional<uint64_t> m_packageSize;
  std::optional<uint32_t> m_packageCrc32;
  std::unique_ptr<LocalHistory> m_local;
  std::unique_ptr<OutboxSender> m_sender;
  std::mutex m_mutex;
  std::vector<std::pair<uint32_t, int>> m_kept;  // port and phone of each record written
};

// The record of a phone that has ended.
PhoneRecord phoneRecord(const PhoneResult& result, const StationHistorySetup& setup, const std::string& logPath);

}  // namespace hxflash
