#pragma once
// The summary at the end of a run: one row per port (its phones, their
// result, their time, the step a failed phone was in, its log file), under a
// failed port's row the tail of its last failed phone, the count of phones
// flashed, and where the logs are.
#include <cstdio>
#include <string>
#include <vector>

#include "station/flash_report.h"

namespace hxflash {

class RunLogs;

struct Tally {
  size_t flashed = 0;
  size_t failed = 0;
  size_t notFlashed = 0;  // interrupted, or never connected
};

Tally tally(const std::vector<PhoneResult>& results);

// The summary's lines, each without its end of line.
std::vector<std::string> summaryLines(const std::vector<PhoneResult>& results, const RunEnd& end,
                                      const RunLogs* logs);

// Writes them to `out`.
void writeSummary(std::FILE* out, const std::vector<PhoneResult>& results, const RunEnd& end, const RunLogs* logs);

}  // namespace hxflash
