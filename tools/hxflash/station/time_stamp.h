#pragma once
// The wall-clock time stamp of log lines and plain output lines.
#include <string>

namespace hxflash {

// The local time now as "HH:MM:SS.mmm".
std::string timeStamp();

// The local time now in ISO 8601 with milliseconds and its UTC offset:
// "2026-12-08T17:07:03.804+01:00".
std::string isoTimeStamp();

}  // namespace hxflash
