#pragma once
// The live view of a station on a terminal: a header, one row per port
// (port_row.h), and a line for what the run is doing as a whole, redrawn in
// place, only the lines that changed, at most ten times a second; then the
// summary below it. POSIX only: it asks the terminal for its width.
#include <memory>
#include <vector>

#include "station/flash_report.h"

namespace hxflash {

// Draws on `setup.out`, a terminal, the rows of `comPorts`.
std::unique_ptr<FlashReport> makeTerminalView(StationSetup setup, const std::vector<uint32_t>& comPorts);

}  // namespace hxflash
