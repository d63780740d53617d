#include "protocol/session_report.h"

#include <cstdarg>

#include "platform/log.h"

namespace hx {

void SessionReport::log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = formatLogText(format, args);
  va_end(args);
  logText(text);
}

}  // namespace hx
