#include "history/history_summary.h"

#include <fmt/core.h>

#include <algorithm>
#include <set>

namespace hxflash {
namespace {

bool isFailure(const std::string& outcome) { return outcome == "failed" || outcome == "interrupted"; }
bool isFlashed(const std::string& outcome) { return outcome.starts_with("flashed"); }

std::string reasonOf(const PhoneRecord& r) {
  if (r.outcome == "interrupted") return "cut short" + (r.failedStep.empty() ? "" : " in " + r.failedStep);
  if (r.code != 0) return fmt::format("{} {}", r.code, r.reason);
  return r.failedStep.empty() ? "no reason given" : r.failedStep;
}

int percent(double rate) { return static_cast<int>(rate * 100 + 0.5); }

void findStandouts(HistorySummary& s) {
  for (const auto& [port, tally] : s.ports) {
    const size_t decided = tally.flashed + tally.failed;
    if (decided < kStandoutLeastPhones) continue;
    const size_t restFailed = s.all.failed - tally.failed;
    const size_t restDecided = s.all.flashed + s.all.failed - decided;
    if (restDecided == 0) continue;  // nothing to compare with
    const double rate = tally.failureRate();
    const double rest = static_cast<double>(restFailed) / static_cast<double>(restDecided);
    if (rate >= 2 * rest && rate - rest >= kStandoutLeastGap) {
      const auto top = tally.commonest(1);
      s.standouts.push_back(fmt::format(
          "{} fails far more often than the other ports: {}% of its phones ({} of {}) against {}% on the rest{}; "
          "check its cable and hub port",
          port, percent(rate), tally.failed, decided, percent(rest),
          top.empty() ? "" : fmt::format(", mostly \"{}\"", top.front().first)));
    }
  }
}

}  // namespace

double Tally::failureRate() const {
  const size_t decided = flashed + failed;
  return decided == 0 ? 0.0 : static_cast<double>(failed) / static_cast<double>(decided);
}

std::vector<std::pair<std::string, size_t>> Tally::commonest(size_t most) const {
  std::vector<std::pair<std::string, size_t>> list(reasons.begin(), reasons.end());
  std::stable_sort(list.begin(), list.end(), [](const auto& a, const auto& b) { return a.second > b.second; });
  if (list.size() > most) list.resize(most);
  return list;
}

void Tally::take(const PhoneRecord& r) {
  ++phones;
  if (isFlashed(r.outcome)) ++flashed;
  if (isFailure(r.outcome)) {
    ++failed;
    ++reasons[reasonOf(r)];
  }
}

HistorySummary summarize(const std::vector<PhoneRecord>& records) {
  std::set<std::string> stations;
  for (const PhoneRecord& r : records) stations.insert(r.station);
  HistorySummary s;
  for (const PhoneRecord& r : records) {
    const std::string port = fmt::format("{}COM{}", stations.size() > 1 ? r.station + " " : "", r.comPort);
    s.ports[port].take(r);
    s.days[r.ended.substr(0, 10)].take(r);
    s.all.take(r);
  }
  findStandouts(s);
  return s;
}

}  // namespace hxflash
