#pragma once
// Where a station keeps its history, as the commands that use it are told:
// --history FILE (another SQLite file than the default), --history
// postgresql://... (the centre's server, as well as the file), --no-history,
// and --station NAME (the name the records carry).
#include <CLI/CLI.hpp>
#include <optional>
#include <string>
#include <vector>

namespace hxflash {

struct HistoryOptions {
  std::vector<std::string> places;  // as given with --history
  bool none = false;
  std::string station;
};

// Adds the options to `command`; `forFlash`: with --no-history and --station.
void addHistoryOptions(CLI::App& command, HistoryOptions& options, bool forFlash);

// The places the options name.
struct HistoryPlaces {
  std::string file;    // the station's SQLite file; empty: none (--no-history)
  std::string server;  // a postgresql:// address, or empty
};
// The places, or the sentence that says why the options cannot be used.
struct HistoryChoice {
  HistoryPlaces places;
  std::optional<std::string> refusal;
};
HistoryChoice historyPlaces(const HistoryOptions& options);

// The station's name: --station, else the host name.
std::string stationName(const HistoryOptions& options);

}  // namespace hxflash
