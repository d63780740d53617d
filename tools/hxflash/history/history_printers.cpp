#include "history/history_printers.h"

#include <fmt/core.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <nlohmann/json.hpp>
#include <set>

namespace hxflash {
namespace {

using Json = nlohmann::ordered_json;

// The line cut to `width` columns (bytes: the history's words are ASCII but
// for paths and reasons, where a cut character is only a cut word).
void printLine(std::FILE* out, std::string line, size_t width) {
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (width > 3 && line.size() > width) line = line.substr(0, width - 3) + "...";
  fmt::print(out, "{}\n", line);
}

// "2026-12-08T17:07:03.804+01:00" as "2026-12-08 17:07:03".
std::string shortTime(const std::string& iso) {
  std::string t = iso.substr(0, 19);
  if (t.size() > 10) t[10] = ' ';
  return t;
}

std::string whatHappened(const PhoneRecord& r) {
  if (r.code != 0) return fmt::format("{} {}", r.code, r.reason);
  return r.failedStep;
}

Json recordJson(const PhoneRecord& r) {
  Json j{{"id", r.id},           {"station", r.station}, {"started", r.started}, {"ended", r.ended},
         {"port", r.comPort},    {"device", r.device},   {"package", r.package}};
  j["package_size"] = r.packageSize ? Json(*r.packageSize) : Json(nullptr);
  j["package_crc32"] = r.packageCrc32 ? Json(crcText(r.packageCrc32)) : Json(nullptr);
  j.update(Json{{"outcome", r.outcome}, {"step", r.failedStep}, {"code", r.code},    {"reason", r.reason},
                {"seconds", r.seconds}, {"bytes_sent", r.bytesSent}, {"log", r.logPath}});
  return j;
}

// A CSV field: quoted when it must be; a text a spreadsheet would take for a
// formula is kept as text.
std::string csvField(const std::string& text) {
  std::string value = text;
  if (!value.empty() && (value[0] == '=' || value[0] == '+' || value[0] == '@' || value[0] == '\t')) value = "'" + value;
  if (value.find_first_of(",\"\r\n") == std::string::npos) return value;
  std::string quoted = "\"";
  for (char c : value) quoted += c == '"' ? std::string("\"\"") : std::string(1, c);
  return quoted + "\"";
}

Json tallyJson(const Tally& t) {
  Json reasons = Json::array();
  for (const auto& [reason, count] : t.commonest(3)) reasons.push_back(Json{{"reason", reason}, {"phones", count}});
  return Json{{"phones", t.phones}, {"flashed", t.flashed}, {"failed", t.failed},
              {"failure_rate", t.failureRate()}, {"commonest_reasons", reasons}};
}

void printTallies(std::FILE* out, const char* heading, const std::map<std::string, Tally>& tallies, size_t width) {
  size_t nameWidth = std::string(heading).size();
  for (const auto& [name, t] : tallies) nameWidth = std::max(nameWidth, name.size());
  printLine(out, fmt::format("{:<{}}  {:>6}  {:>7}  {:>6}  {:>5}  commonest reasons", heading, nameWidth, "phones",
                             "flashed", "failed", "rate"),
            width);
  for (const auto& [name, t] : tallies) {
    std::string reasons;
    for (const auto& [reason, count] : t.commonest(2)) reasons += fmt::format("{}{} x{}", reasons.empty() ? "" : "; ", reason, count);
    printLine(out, fmt::format("{:<{}}  {:>6}  {:>7}  {:>6}  {:>4}%  {}", name, nameWidth, t.phones, t.flashed, t.failed,
                               static_cast<int>(t.failureRate() * 100 + 0.5), reasons),
              width);
  }
}

}  // namespace

size_t terminalWidth(std::FILE* out) {
  winsize size{};
  if (!::isatty(::fileno(out)) || ::ioctl(::fileno(out), TIOCGWINSZ, &size) != 0) return 0;
  return size.ws_col;
}

void printHistoryTable(std::FILE* out, const std::vector<PhoneRecord>& records, size_t width) {
  std::set<std::string> stations;
  for (const PhoneRecord& r : records) stations.insert(r.station);
  const bool named = stations.size() > 1;
  size_t stationWidth = 7;
  for (const std::string& s : stations) stationWidth = std::max(stationWidth, s.size());
  printLine(out,
            fmt::format("{:<19}  {}{:<6}  {:<19}  {:>6}  what happened", "ended", named ? fmt::format("{:<{}}  ", "station", stationWidth) : "",
                        "port", "outcome", "s"),
            width);
  for (const PhoneRecord& r : records)
    printLine(out,
              fmt::format("{:<19}  {}COM{:<3}  {:<19}  {:>6.1f}  {}", shortTime(r.ended),
                          named ? fmt::format("{:<{}}  ", r.station, stationWidth) : "", r.comPort, r.outcome,
                          r.seconds, whatHappened(r)),
              width);
}

void printHistoryJson(std::FILE* out, const std::vector<PhoneRecord>& records) {
  for (const PhoneRecord& r : records) fmt::print(out, "{}\n", recordJson(r).dump());
}

void printHistoryCsv(std::FILE* out, const std::vector<PhoneRecord>& records) {
  fmt::print(out, "id,station,started,ended,port,device,package,package_size,package_crc32,outcome,step,code,reason,"
                  "seconds,bytes_sent,log\r\n");
  for (const PhoneRecord& r : records) {
    const std::vector<std::string> fields = {
        r.id, r.station, r.started, r.ended, fmt::format("COM{}", r.comPort), r.device, r.package,
        r.packageSize ? std::to_string(*r.packageSize) : "", crcText(r.packageCrc32), r.outcome, r.failedStep,
        std::to_string(r.code), r.reason, fmt::format("{:.1f}", r.seconds), std::to_string(r.bytesSent), r.logPath};
    std::string line;
    for (const std::string& f : fields) line += (line.empty() ? "" : ",") + csvField(f);
    fmt::print(out, "{}\r\n", line);
  }
}

void printHistorySummary(std::FILE* out, const HistorySummary& s, size_t width) {
  printTallies(out, "port", s.ports, width);
  fmt::print(out, "\n");
  printTallies(out, "day", s.days, width);
  fmt::print(out, "\n");
  printLine(out, fmt::format("{} phones: {} flashed, {} failed ({}%)", s.all.phones, s.all.flashed, s.all.failed,
                             static_cast<int>(s.all.failureRate() * 100 + 0.5)),
            width);
  for (const std::string& sentence : s.standouts) printLine(out, sentence, 0);
}

void printHistorySummaryJson(std::FILE* out, const HistorySummary& s) {
  Json ports = Json::object(), days = Json::object();
  for (const auto& [name, t] : s.ports) ports[name] = tallyJson(t);
  for (const auto& [name, t] : s.days) days[name] = tallyJson(t);
  Json j{{"ports", ports}, {"days", days}, {"all", tallyJson(s.all)}, {"standouts", s.standouts}};
  fmt::print(out, "{}\n", j.dump());
}

}  // namespace hxflash
