#pragma once
// Where this program's own file is: an installed hxflash finds its module
// and the virtual phone from there.
#include <string>

namespace hxflash {

// The folder of the running program's file; empty when it cannot be told.
std::string programDirectory();

}  // namespace hxflash
