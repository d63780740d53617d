#pragma once
// Which phones `hxflash history` shows, and the same choice as SQL: every
// value a bound parameter, never spliced into the statement.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "history/phone_record.h"

namespace hxflash {

struct HistoryFilter {
  std::optional<int64_t> sinceMs;  // phones that ended at or after (ms since 1970, UTC)
  std::optional<int64_t> untilMs;  // ... and before
  std::optional<uint32_t> comPort;
  std::optional<std::string> package;  // the path as given, or its file name
  std::optional<std::string> outcome;
  std::optional<std::string> station;
};

// A WHERE clause and its parameters, in the order of their placeholders.
struct SqlCondition {
  std::string where;  // empty, or " WHERE ..."
  std::vector<std::string> parameters;
};

// `placeholder(n)` names the n-th parameter (1-based) in the database's
// syntax: "?1" for SQLite, "$1" for PostgreSQL. The package is matched
// afterwards (wantsPackage), by its path or its file name.
SqlCondition sqlCondition(const HistoryFilter& filter, std::string (*placeholder)(int));
bool wantsPackage(const HistoryFilter& filter, const PhoneRecord& record);

// A time as typed for --since and --until: "2026-12-08", "2026-12-08T14:30"
// or "2026-12-08 14:30[:05]" in local time, or "3d"/"12h"/"30m" ago. Nothing
// when it is none of these.
std::optional<int64_t> parseHistoryTime(const std::string& text, int64_t nowMs);

// The outcomes a record can have, for --outcome.
const std::vector<std::string>& recordOutcomes();

}  // namespace hxflash
