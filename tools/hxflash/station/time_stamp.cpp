#include "station/time_stamp.h"

#include <fmt/core.h>

#include <chrono>
#include <ctime>

namespace hxflash {

namespace {

struct LocalNow {
  std::tm local{};
  long long ms = 0;
  std::chrono::minutes utcOffset{0};
};

// How far the local time `local` of `instant` is ahead of UTC: its calendar
// fields read as if they were UTC, less the instant. Taken from the runtime's
// own local time, so the offset always fits the time it labels, on every
// platform (the Windows runtime's strftime writes a zone name for "%z", not
// +hhmm).
std::chrono::minutes utcOffsetOf(const std::tm& local, std::time_t instant) {
  using namespace std::chrono;
  const sys_days day = year{local.tm_year + 1900} / (local.tm_mon + 1) / local.tm_mday;
  const sys_seconds asIfUtc = day + hours{local.tm_hour} + minutes{local.tm_min} + seconds{local.tm_sec};
  return duration_cast<minutes>(asIfUtc - sys_seconds{seconds{instant}});
}

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
  n.utcOffset = utcOffsetOf(n.local, seconds);
  return n;
}

// "+09:00", "-05:00", "+00:00".
std::string isoOffset(std::chrono::minutes offset) {
  const long long minutes = offset.count() < 0 ? -offset.count() : offset.count();
  return fmt::format("{}{:02}:{:02}", offset.count() < 0 ? '-' : '+', minutes / 60, minutes % 60);
}

}  // namespace

std::string timeStamp() {
  const LocalNow n = localNow();
  return fmt::format("{:02}:{:02}:{:02}.{:03}", n.local.tm_hour, n.local.tm_min, n.local.tm_sec, n.ms);
}

std::string isoTimeStamp() {
  const LocalNow n = localNow();
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}{}", n.local.tm_year + 1900, n.local.tm_mon + 1,
                     n.local.tm_mday, n.local.tm_hour, n.local.tm_min, n.local.tm_sec, n.ms, isoOffset(n.utcOffset));
}

}  // namespace hxflash
