#pragma once
// The wall-clock time stamp of log lines and plain output lines.
#include <string>

namespace hxflash {

// The local time now as "HH:MM:SS.mmm".
std::string timeStamp();

}  // namespace hxflash
