#pragma once
// The summary of a history: per port and per day, the phones flashed and
// failed, the failure rate and the commonest reasons; and, in words, a port
// whose failures stand out from the others' (a worn cable, a bad hub port).
#include <cstddef>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "history/phone_record.h"

namespace hxflash {

struct Tally {
  size_t phones = 0;
  size_t flashed = 0;
  size_t failed = 0;  // failed, or cut short during the transfer
  std::map<std::string, size_t> reasons;

  // Of the phones that were flashed or failed, the share that failed (0 when none).
  double failureRate() const;
  // The `most` commonest reasons, commonest first.
  std::vector<std::pair<std::string, size_t>> commonest(size_t most) const;
  void take(const PhoneRecord& record);
};

struct HistorySummary {
  std::map<std::string, Tally> ports;  // "COM41", or "station COM41" when the history has several stations
  std::map<std::string, Tally> days;   // "2026-12-08", the station's local date of the phone's end
  Tally all;
  // Sentences about the ports whose failure rate stands well above the rest.
  std::vector<std::string> standouts;
};

HistorySummary summarize(const std::vector<PhoneRecord>& records);

// A port stands out when it has had at least this many phones flashed or
// failed, fails at least twice as often as the other ports together, and at
// least this much more often in absolute terms.
inline constexpr size_t kStandoutLeastPhones = 5;
inline constexpr double kStandoutLeastGap = 0.10;

}  // namespace hxflash
