// hxflash history: what the station's history says about its phones: the
// last phones (filtered by time, port, package, outcome, station), as a
// table that fits the terminal, JSON lines or CSV; --summary per port and per
// day, saying in words when one port fails well more often than the rest;
// --sync sends the records the centre's server has not taken yet.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>

#include "commands/commands.h"
#include "station/exit_status.h"
#include "history/history_options.h"
#include "history/history_printers.h"
#include "history/history_summary.h"
#include "history/local_history.h"
#include "history/outbox_sender.h"
#include "history/server_history.h"

namespace hxflash {
namespace {

constexpr size_t kDefaultLast = 50;

struct HistoryCli {
  HistoryOptions history;
  std::string since;
  std::string until;
  uint32_t port = 0;
  std::string package;
  std::string outcome;
  std::string station;
  size_t last = kDefaultLast;
  bool json = false;
  bool csv = false;
  bool summary = false;
  bool sync = false;
};

int refuse(const std::string& sentence) {
  fmt::print(stderr, "hxflash history: {}\n", sentence);
  return kExitRefused;
}

class HistoryCommandRun {
 public:
  explicit HistoryCommandRun(const HistoryCli& cli) : m_cli(cli) {}

  int run() {
    const HistoryChoice choice = historyPlaces(m_cli.history);
    if (choice.refusal) return refuse(*choice.refusal);
    m_places = choice.places;
    if (std::optional<std::string> r = readFilter()) return refuse(*r);
    if (m_cli.sync) return sync();
    std::optional<std::vector<PhoneRecord>> records = read();
    if (!records) return kExitPhoneFailed;
    return show(*records);
  }

 private:
  std::optional<std::string> readFilter() {
    const int64_t now = epochMs(std::chrono::system_clock::now());
    if (!m_cli.since.empty() && !(m_filter.sinceMs = parseHistoryTime(m_cli.since, now)))
      return "--since " + m_cli.since + " is not a time: give 2026-12-08, 2026-12-08T14:30 or 3d, 12h, 30m";
    if (!m_cli.until.empty() && !(m_filter.untilMs = parseHistoryTime(m_cli.until, now)))
      return "--until " + m_cli.until + " is not a time: give 2026-12-08, 2026-12-08T14:30 or 3d, 12h, 30m";
    if (m_cli.port != 0) m_filter.comPort = m_cli.port;
    if (!m_cli.package.empty()) m_filter.package = m_cli.package;
    if (!m_cli.outcome.empty()) m_filter.outcome = m_cli.outcome;
    if (!m_cli.station.empty()) m_filter.station = m_cli.station;
    return std::nullopt;
  }

  // The records from the server when one is given, else from the station's file.
  std::optional<std::vector<PhoneRecord>> read() {
    try {
      if (!m_places.server.empty()) {
        m_where = m_places.server;
        const std::atomic<bool> never{false};
        ServerHistory server(m_places.server, never);
        std::optional<std::vector<PhoneRecord>> records;
        if (server.connect()) records = server.find(m_filter);
        if (!records) fmt::print(stderr, "hxflash history: the server {} did not answer: {}\n", m_where, server.error());
        return records;
      }
      m_where = m_places.file;
      std::error_code ec;
      if (!std::filesystem::exists(m_places.file, ec)) return std::vector<PhoneRecord>{};
      LocalHistory local(m_places.file, false);
      return local.find(m_filter);
    } catch (const HistoryRefused& e) {
      fmt::print(stderr, "hxflash history: {}\n", e.what());
      return std::nullopt;
    }
  }

  int show(std::vector<PhoneRecord>& records) {
    if (records.empty()) {
      const bool filtered = m_filter.sinceMs || m_filter.untilMs || m_filter.comPort || m_filter.package ||
                            m_filter.outcome || m_filter.station;
      fmt::print(stderr, "hxflash history: {} in {}\n",
                 filtered ? "no phone matches" : "the history is empty: no phone has been recorded", m_where);
      return kExitOk;
    }
    const size_t width = terminalWidth(stdout);
    if (m_cli.summary) {
      const HistorySummary summary = summarize(records);
      if (m_cli.json) printHistorySummaryJson(stdout, summary);
      else printHistorySummary(stdout, summary, width);
      return kExitOk;
    }
    if (m_cli.json) printHistoryJson(stdout, records);
    else if (m_cli.csv) printHistoryCsv(stdout, records);
    else {
      const size_t all = records.size();
      if (m_cli.last != 0 && all > m_cli.last) records.erase(records.begin(), records.end() - m_cli.last);
      printHistoryTable(stdout, records, width);
      if (records.size() < all)
        fmt::print("(the last {} of {} phones; --last 0 shows all)\n", records.size(), all);
    }
    return kExitOk;
  }

  // Sends the outbox of the station's file to the server.
  int sync() {
    if (m_places.server.empty()) return refuse("--sync needs the server: --history postgresql://...");
    std::error_code ec;
    if (!std::filesystem::exists(m_places.file, ec)) {
      fmt::print(stderr, "hxflash history: nothing to send: there is no history at {}\n", m_places.file);
      return kExitOk;
    }
    try {
      LocalHistory local(m_places.file, false);
      const size_t waiting = local.outgoingCount();
      const std::atomic<bool> never{false};
      ServerHistory server(m_places.server, never);
      const bool done = sendOutbox(local, server, never);
      const size_t left = local.outgoingCount();
      fmt::print("sent {} records to {}; {} wait in {}\n", waiting - left, m_places.server, left, m_places.file);
      if (!done) fmt::print(stderr, "hxflash history: the server {} did not take them all: {}\n", m_places.server,
                            server.error());
      return done ? kExitOk : kExitPhoneFailed;
    } catch (const HistoryRefused& e) {
      fmt::print(stderr, "hxflash history: {}\n", e.what());
      return kExitPhoneFailed;
    }
  }

  const HistoryCli& m_cli;
  HistoryPlaces m_places;
  HistoryFilter m_filter;
  std::string m_where;
};

}  // namespace

void registerHistoryCommand(CLI::App& app, int& exitCode) {
  auto cli = std::make_shared<HistoryCli>();
  CLI::App* cmd = app.add_subcommand("history", "The station's history: every phone it ended, when, where and how");
  cmd->footer("Exit status: 0 shown (an empty history too); 1 the history or the server could not be read, or "
              "--sync left records unsent; 2 bad arguments or a history that must not be used.");
  addHistoryOptions(*cmd, cli->history, false);
  cmd->add_option("--since", cli->since, "Phones that ended at or after: 2026-12-08, 2026-12-08T14:30, or 3d/12h/30m ago")
      ->default_str("");
  cmd->add_option("--until", cli->until, "Phones that ended before (the same forms)")->default_str("");
  cmd->add_option("--port", cli->port, "Only this COM port")->check(CLI::Range(1, 255))->default_str("");
  cmd->add_option("--package", cli->package, "Only this package (its path as given, or its file name)")
      ->default_str("");
  cmd->add_option("--outcome", cli->outcome, "Only this outcome")
      ->check(CLI::IsMember(recordOutcomes()))
      ->default_str("");
  cmd->add_option("--station", cli->station, "Only this station's phones")->default_str("");
  cmd->add_option("--last", cli->last, "The table shows the last N phones (0: all)");
  CLI::Option* json = cmd->add_flag("--json", cli->json, "One JSON object per phone (with --summary: one object)");
  cmd->add_flag("--csv", cli->csv, "CSV for a spreadsheet, with a header line")->excludes(json);
  cmd->add_flag("--summary", cli->summary,
                "Per port and per day: phones flashed and failed, the failure rate and the commonest reasons; a "
                "port that fails well more often than the rest is named");
  cmd->add_flag("--sync", cli->sync, "Send the records the server has not taken yet (needs --history postgresql://...)");
  cmd->callback([cli, &exitCode] { exitCode = HistoryCommandRun(*cli).run(); });
}

}  // namespace hxflash
