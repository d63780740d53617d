#pragma once
// Whether ModemManager runs: it opens every new ttyACM port to probe it for a
// modem, and bytes it sends in the phone's handshake window break the
// download.
#include <string>

namespace hxflash {

// True when a process named ModemManager shows in `procRoot` (/proc).
bool modemManagerRunning(const std::string& procRoot);

}  // namespace hxflash
