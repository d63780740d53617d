#pragma once
// The module's console log: one printf-style line to standard output, no time
// stamp, no level. Texts longer than 511 characters are cut.

namespace hx {

inline constexpr int kLogBufferSize = 512;

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

}  // namespace hx
