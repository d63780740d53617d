#include "platform/log.h"

#include <cstdarg>
#include <cstdio>

namespace hx {

void logMessage(const char* format, ...) {
  char buffer[kLogBufferSize];
  va_list args;
  va_start(args, format);
  const int n = std::vsnprintf(buffer, sizeof buffer, format, args);
  va_end(args);
  if (n < 0) return;
  const size_t length = static_cast<size_t>(n) < sizeof buffer ? static_cast<size_t>(n) : sizeof buffer - 1;
  // One write per line so that lines of parallel sessions do not tear.
  std::fwrite(buffer, 1, length, stdout);
  std::fflush(stdout);
}

}  // namespace hx
