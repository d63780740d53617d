// hxflash.exe keeps no history: SQLite is not built for Windows by this
// project. Its --json lines are the record of its phones; --no-history is
// accepted so that one command line serves both systems.
#include "history/history_options.h"
#include "history/phone_keeper.h"

namespace hxflash {

void addHistoryOptions(CLI::App& command, HistoryOptions& options, bool forFlash) {
  command.add_option("--history", options.places,
                     "Not in hxflash.exe: it keeps no history of its phones (its --json lines are their record)")
      ->default_str("");
  if (!forFlash) return;
  command.add_flag("--no-history", options.none, "Accepted; hxflash.exe keeps no history in any case");
  command.add_option("--station", options.station, "Not in hxflash.exe (it keeps no history)")->default_str("");
}

std::unique_ptr<PhoneKeeper> openPhoneKeeper(const HistoryOptions& options, StationHistorySetup) {
  if (!options.places.empty() || !options.station.empty())
    throw HistoryRefused("hxflash.exe keeps no history: its --json lines are the record of its phones");
  return nullptr;
}

}  // namespace hxflash
