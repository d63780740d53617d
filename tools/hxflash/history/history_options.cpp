#include "history/history_options.h"

#include <unistd.h>

#include "history/local_history.h"
#include "history/server_history.h"

namespace hxflash {

void addHistoryOptions(CLI::App& command, HistoryOptions& options, bool forFlash) {
  command.add_option("--history", options.places,
                     "The history: an SQLite file (default: $XDG_STATE_HOME/hxflash/history.sqlite3, else "
                     "~/.local/state/hxflash/history.sqlite3) and/or a centre's PostgreSQL server "
                     "(postgresql://USER@HOST/DB; the password only from ~/.pgpass or PGPASSFILE); may be given "
                     "twice, once for each")
      ->default_str("");
  if (!forFlash) return;
  command.add_flag("--no-history", options.none, "Keep no history of this run's phones");
  command.add_option("--station", options.station, "The station's name in the history (default: the host name)")
      ->default_str("");
}

HistoryChoice historyPlaces(const HistoryOptions& options) {
  HistoryChoice choice;
  if (options.none) {
    if (!options.places.empty()) choice.refusal = "--history and --no-history contradict each other";
    return choice;
  }
  for (const std::string& place : options.places) {
    std::string& slot = isServerAddress(place) ? choice.places.server : choice.places.file;
    if (!slot.empty()) {
      choice.refusal = "--history names one file and one server at most";
      return choice;
    }
    if (place.empty()) {
      choice.refusal = "--history needs a file or a postgresql:// address";
      return choice;
    }
    slot = place;
  }
  if (!choice.places.server.empty()) choice.refusal = serverAddressRefusal(choice.places.server);
  if (choice.places.file.empty()) choice.places.file = defaultHistoryPath();
  return choice;
}

std::string stationName(const HistoryOptions& options) {
  if (!options.station.empty()) return options.station;
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == 0) return "station";
  return host;
}

}  // namespace hxflash
