#pragma once
// The reports a host must receive for a complete download of a package, in
// order, as the event table and the steps' own progress define them.
#include <ostream>
#include <string>
#include <vector>

#include "host/flash_runner.h"
#include "pkgbuild/package_builder.h"

namespace hxflash {
// How GoogleTest prints an event in a failure message.
void PrintTo(const HostEvent& event, std::ostream* os);
}  // namespace hxflash

namespace hxtest {

// Everything from the connection report (code 16) to the last countdown
// report, for a download that succeeds.
std::vector<hxflash::HostEvent> expectedSuccessEvents(const pkgbuild::BuiltPackage& package);

// The connection report and the agent connection's reports: what every
// download that reaches the agent starts with.
std::vector<hxflash::HostEvent> expectedConnectEvents();

// A readable dump of events for failure messages.
std::string describe(const std::vector<hxflash::HostEvent>& events);

}  // namespace hxtest
