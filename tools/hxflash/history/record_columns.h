#pragma once
// A record's columns, in one order for the station's file and the centre's
// server, and its values for binding as parameters.
#include <cstdint>
#include <functional>
#include <string>
#include <variant>

#include "history/phone_record.h"

namespace hxflash {

inline constexpr const char* kRecordColumns =
    "id, station, started, ended, ended_ms, com_port, device, package, package_size, package_crc32, outcome, "
    "failed_step, code, reason, seconds, bytes_sent, log_path";
inline constexpr int kRecordColumnCount = 17;

// "?1, ?2, ..." or "$1, $2, ...".
std::string recordPlaceholders(std::string (*placeholder)(int));

using RecordValue = std::variant<std::monostate, std::string, int64_t, double>;
// Hands each of the record's values to `bind` with its 1-based position.
void bindRecord(const PhoneRecord& record, const std::function<void(int, const RecordValue&)>& bind);

}  // namespace hxflash
