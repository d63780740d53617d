// The time stamps of hxflash's JSON lines and logs: local time with its UTC
// offset, which applied gives the real time, in zones ahead of and behind UTC.
// The zones are given in the POSIX form, which both the C library and the
// Windows runtime read as the local zone (the Windows runtime reads a zone
// name such as "Asia/Seoul" as UTC, which would hide a wrong offset).
#include "station/time_stamp.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

namespace {

using std::chrono::milliseconds;
using std::chrono::system_clock;
using Instant = std::chrono::time_point<system_clock, milliseconds>;

// Sets the process's time zone for as long as it lives, then restores it.
class LocalZone {
 public:
  explicit LocalZone(const char* zone) {
    if (const char* old = std::getenv("TZ")) m_old = old;
    set(zone);
  }
  ~LocalZone() { set(m_old ? m_old->c_str() : ""); }
  LocalZone(const LocalZone&) = delete;
  LocalZone& operator=(const LocalZone&) = delete;

 private:
  static void set(const char* zone) {
#ifdef _WIN32
    _putenv_s("TZ", zone);
    _tzset();
#else
    if (*zone)
      setenv("TZ", zone, 1);
    else
      unsetenv("TZ");
    tzset();
#endif
  }
  std::optional<std::string> m_old;
};

struct IsoStamp {
  Instant utc;         // the local time with its offset applied
  std::string offset;  // "+09:00"
};

// "2026-12-10T20:34:58.123+09:00"; nothing when it is not of that form.
std::optional<IsoStamp> parseIsoStamp(const std::string& text) {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, ms = 0, offsetHours = 0, offsetMinutes = 0;
  char sign = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d.%3d%c%2d:%2d%n", &year, &month, &day, &hour, &minute, &second,
                  &ms, &sign, &offsetHours, &offsetMinutes, &used) != 10 ||
      used != static_cast<int>(text.size()) || text.size() != 29 || (sign != '+' && sign != '-'))
    return std::nullopt;
  using namespace std::chrono;
  const sys_days date = std::chrono::year{year} / month / day;
  const minutes offset = (sign == '-' ? -1 : 1) * (hours{offsetHours} + minutes{offsetMinutes});
  const Instant local{date + hours{hour} + minutes{minute} + seconds{second} + milliseconds{ms}};
  return IsoStamp{local - offset, text.substr(23)};
}

TEST(TimeStamp, TheLocalTimeWithItsOffsetAppliedIsTheRealTime) {
  const struct {
    const char* zone;
    std::vector<std::string> offsets;  // standard time, summer time
  } zones[] = {
      {"KST-9", {"+09:00"}},
      {"EST5EDT", {"-05:00", "-04:00"}},
      {"UTC0", {"+00:00"}},
  };
  for (const auto& z : zones) {
    LocalZone zone(z.zone);
    const Instant before = std::chrono::floor<milliseconds>(system_clock::now());
    const std::string stamp = hxflash::isoTimeStamp();
    const Instant after = std::chrono::floor<milliseconds>(system_clock::now());
    const std::optional<IsoStamp> parsed = parseIsoStamp(stamp);
    ASSERT_TRUE(parsed) << z.zone << ": " << stamp;
    EXPECT_NE(std::find(z.offsets.begin(), z.offsets.end(), parsed->offset), z.offsets.end()) << z.zone << ": " << stamp;
    EXPECT_LE(before, parsed->utc) << z.zone << ": " << stamp;
    EXPECT_LE(parsed->utc, after) << z.zone << ": " << stamp;
  }
}

}  // namespace
