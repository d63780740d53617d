#pragma once
// One phone's entry in a station's history: written when its turn ends
// (flashed, failed, cut short, or plugged in before the run and never
// flashed), with everything a service centre asks about it later.
#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>

namespace hxflash {

// Why a history cannot be used; the sentence names the file or the server.
class HistoryRefused : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct PhoneRecord {
  std::string id;       // made by the station: unique across stations
  std::string station;  // --station, or the host name
  std::string started;  // ISO 8601 with the UTC offset
  std::string ended;
  int64_t endedMs = 0;  // the end in milliseconds since 1970 (UTC), for ordering and filters
  uint32_t comPort = 0;
  std::string device;   // what the port maps to: its entry and device, or the system's name
  std::string package;  // the path as given
  std::optional<uint64_t> packageSize;
  std::optional<uint32_t> packageCrc32;
  std::string outcome;  // flashed, failed, interrupted, present-not-flashed, ...
  std::string failedStep;
  int code = 0;         // a failed download's result code, 0 otherwise
  std::string reason;   // the module's sentence for the code, with its cause
  double seconds = 0;
  uint64_t bytesSent = 0;
  std::string logPath;  // the port's log
};

// The outcome of a phone that was plugged in before its port waited, and
// stayed there unflashed until the run ended.
inline constexpr const char* kPresentNotFlashed = "present-not-flashed";

// 32 hexadecimal digits from the system's random source.
std::string newRecordId();

// `when` in the local time zone as ISO 8601 with milliseconds and the UTC
// offset: "2026-12-08T17:07:03.804+01:00".
std::string isoTime(std::chrono::system_clock::time_point when);
int64_t epochMs(std::chrono::system_clock::time_point when);

// The package's CRC-32 as the logs show it: eight hexadecimal digits.
std::string crcText(std::optional<uint32_t> crc);

}  // namespace hxflash
