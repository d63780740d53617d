#pragma once
// `hxflash history`'s output: a table that fits the terminal, JSON lines
// (one object per phone), CSV for a spreadsheet, and the summary.
#include <cstddef>
#include <cstdio>
#include <vector>

#include "history/history_summary.h"
#include "history/phone_record.h"

namespace hxflash {

// `width`: the terminal's columns; 0: lines are not cut.
void printHistoryTable(std::FILE* out, const std::vector<PhoneRecord>& records, size_t width);
void printHistoryJson(std::FILE* out, const std::vector<PhoneRecord>& records);
void printHistoryCsv(std::FILE* out, const std::vector<PhoneRecord>& records);
void printHistorySummary(std::FILE* out, const HistorySummary& summary, size_t width);
void printHistorySummaryJson(std::FILE* out, const HistorySummary& summary);

// The columns of the terminal on `out`, or 0 when it is not one.
size_t terminalWidth(std::FILE* out);

}  // namespace hxflash
