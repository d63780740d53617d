#pragma once
// What the module reports to the host, in words for the logs.
#include <string>

#include "host/flash_runner.h"

namespace hxflash {

// One report in words: "status  45% Send ROM Image", "progress 37%", "Error",
// "plugged in" (the end of the wait: the phone's port opened).
std::string eventText(const HostEvent& e);

}  // namespace hxflash
