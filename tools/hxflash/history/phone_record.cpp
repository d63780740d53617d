#include "history/phone_record.h"

#include <fmt/core.h>

#include <ctime>
#include <random>

namespace hxflash {

std::string newRecordId() {
  std::random_device random;  // the system's source (getrandom on Linux)
  std::string id;
  for (int i = 0; i < 4; ++i) id += fmt::format("{:08x}", static_cast<uint32_t>(random()));
  return id;
}

std::string isoTime(std::chrono::system_clock::time_point when) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(when);
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count() % 1000;
  std::tm local{};
  localtime_r(&seconds, &local);
  char offset[8] = {};  // "+0100"
  std::strftime(offset, sizeof offset, "%z", &local);
  const std::string zone(offset);
  const std::string utcOffset = zone.size() == 5 ? zone.substr(0, 3) + ":" + zone.substr(3) : "+00:00";
  return fmt::format("{:04}-{:02}-{:02}T{:02}:{:02}:{:02}.{:03}{}", local.tm_year + 1900, local.tm_mon + 1,
                     local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec, ms < 0 ? 0 : ms, utcOffset);
}

int64_t epochMs(std::chrono::system_clock::time_point when) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(when.time_since_epoch()).count();
}

std::string crcText(std::optional<uint32_t> crc) { return crc ? fmt::format("{:08x}", *crc) : std::string(); }

}  // namespace hxflash
