#pragma once
// The module's console log: one printf-style line to standard output, no time
// stamp, no level. Texts longer than 511 characters are cut.
#include <functional>
#include <string_view>

namespace hx {

inline constexpr int kLogBufferSize = 512;

void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Where the formatted texts go. By default each goes to standard output in
// one write and is flushed; a test installs its own sink, and an empty sink
// restores the default. Texts of parallel sessions reach the sink one at a
// time.
using LogSink = std::function<void(std::string_view text)>;
void setLogSink(LogSink sink);

}  // namespace hx
