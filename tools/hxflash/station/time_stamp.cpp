#include "station/time_stamp.h"

#include <fmt/core.h>

#include <chrono>
#include <ctime>

namespace hxflash {

namespace {

struct LocalNow {
  std::tm local{};
  long long ms = 0;
};

LocalNow localNow() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  LocalNow n;
  n.ms = std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
#ifdef _WIN32
  localtime_s(&n.local, &seconds);
#else
  localtime_r(&seconds, &n.local);
#endif
  return n;
}

}  // namespace

std::string timeStamp() {
  const LocalNow n = localNow();
  return fmt::format("{:02}:{:02}:{:02}.{:03}", n.local.tm_hour, n.local.tm_min, n.local.tm_sec, n.ms);
}

std::string isoTimeStamp() {
  const LocalNow n = localNow();
  char offset[8] = {};  // "+0100"
  std::strftime(offset, sizeof offset, "%z", &n.local);
  const std::string zone(offset);
  const std::string utcOffset = zone.size() == 5 ? zone.substr(0, 3) + ":" + zone.substr(3) : "+00:00";
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}{}", n.local.tm_year + 1900, n.local.tm_mon + 1,
                     n.local.tm_mday, n.local.tm_hour, n.local.tm_min, n.local.tm_sec, n.ms, utcOffset);
}

}  // namespace hxflash
