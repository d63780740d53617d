#include "history/history_filter.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

namespace hxflash {

SqlCondition sqlCondition(const HistoryFilter& filter, std::string (*placeholder)(int)) {
  SqlCondition c;
  std::vector<std::string> terms;
  auto add = [&](const std::string& column, const std::string& op, const std::string& value) {
    c.parameters.push_back(value);
    terms.push_back(column + " " + op + " " + placeholder(static_cast<int>(c.parameters.size())));
  };
  if (filter.sinceMs) add("ended_ms", ">=", std::to_string(*filter.sinceMs));
  if (filter.untilMs) add("ended_ms", "<", std::to_string(*filter.untilMs));
  if (filter.comPort) add("com_port", "=", std::to_string(*filter.comPort));
  if (filter.outcome) add("outcome", "=", *filter.outcome);
  if (filter.station) add("station", "=", *filter.station);
  for (size_t i = 0; i < terms.size(); ++i) c.where += (i == 0 ? " WHERE " : " AND ") + terms[i];
  return c;
}

bool wantsPackage(const HistoryFilter& filter, const PhoneRecord& record) {
  if (!filter.package) return true;
  return record.package == *filter.package ||
         std::filesystem::path(record.package).filename() == std::filesystem::path(*filter.package).filename();
}

std::optional<int64_t> parseHistoryTime(const std::string& text, int64_t nowMs) {
  long long amount = 0;
  char unit = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%lld%c%n", &amount, &unit, &used) == 2 && used == static_cast<int>(text.size()) &&
      amount >= 0 && amount < 100000) {
    const int64_t unitMs = unit == 'd' ? 86400000 : unit == 'h' ? 3600000 : unit == 'm' ? 60000 : 0;
    if (unitMs != 0) return nowMs - amount * unitMs;
  }
  std::tm local{};
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  char sep = 0;
  const int n = std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &year, &month, &day, &sep, &hour, &minute,
                            &second, &used);
  const bool dateOnly = n == 3 && text.size() == 10;
  const bool withTime = (n == 6 || n == 7) && (sep == 'T' || sep == ' ');
  if (!dateOnly && !withTime) return std::nullopt;
  if (n == 6) second = 0;
  if (month < 1 || month > 12 || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 59 || year < 1970)
    return std::nullopt;
  local.tm_year = year - 1900;
  local.tm_mon = month - 1;
  local.tm_mday = day;
  local.tm_hour = hour;
  local.tm_min = minute;
  local.tm_sec = second;
  local.tm_isdst = -1;
  const std::time_t t = std::mktime(&local);
  if (t == static_cast<std::time_t>(-1)) return std::nullopt;
  return static_cast<int64_t>(t) * 1000;
}

const std::vector<std::string>& recordOutcomes() {
  static const std::vector<std::string> outcomes = {"flashed", "flashed-reset-not-awaited", "failed", "interrupted",
                                                    kPresentNotFlashed};
  return outcomes;
}

}  // namespace hxflash
