#include "history/record_columns.h"

namespace hxflash {

std::string recordPlaceholders(std::string (*placeholder)(int)) {
  std::string text;
  for (int i = 1; i <= kRecordColumnCount; ++i) text += (i > 1 ? ", " : "") + placeholder(i);
  return text;
}

void bindRecord(const PhoneRecord& r, const std::function<void(int, const RecordValue&)>& bind) {
  const auto optional = [](const auto& value) -> RecordValue {
    if (!value) return std::monostate{};
    return static_cast<int64_t>(*value);
  };
  const RecordValue values[kRecordColumnCount] = {
      r.id, r.station, r.started, r.ended, r.endedMs, static_cast<int64_t>(r.comPort), r.device, r.package,
      optional(r.packageSize), optional(r.packageCrc32), r.outcome, r.failedStep, static_cast<int64_t>(r.code),
      r.reason, r.seconds, static_cast<int64_t>(r.bytesSent), r.logPath};
  for (int i = 0; i < kRecordColumnCount; ++i) bind(i + 1, values[i]);
}

}  // namespace hxflash
