#pragma once
// The module's log: whole lines, each carrying the COM number of the session
// it is about (0 for the module as a whole) and a result code (0 except on the
// line that ends a failed download). Lines go to the installed sink, or to
// standard output with their line end. A text is formatted printf-style into
// 512 characters; a longer one is cut, and the cut text ends its line.
#include <cstdarg>
#include <functional>
#include <string>
#include <string_view>

namespace hx {

inline constexpr int kLogBufferSize = 512;
inline constexpr unsigned kModuleLogPort = 0;  // lines about the module as a whole

// Receives one whole line, without its line end; `line` lives for the call.
// Calls never overlap.
using LogSink = std::function<void(unsigned comPort, int code, std::string_view line)>;

// Installs `sink`; an empty sink restores standard output. Once it returns, the
// old sink is never called again (a call in progress is waited for).
void setLogSink(LogSink sink);

// Formats into at most 511 characters; a cut text gets a line end.
std::string formatLogText(const char* format, va_list args);

// One source of log text: the pieces written become whole lines at their line
// ends, each sent with this source's COM number. Used by one thread at a time.
class LogLines {
 public:
  explicit LogLines(unsigned comPort) : m_comPort(comPort) {}
  LogLines(const LogLines&) = delete;
  LogLines& operator=(const LogLines&) = delete;
  // A line still open is sent: nothing written is lost.
  ~LogLines() { endOpenLine(); }

  void print(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void write(std::string_view text);
  // Sends `line` as a whole line carrying `code`, after any line still open.
  void line(int code, std::string_view line);
  // Sends a line still open, as it stands.
  void endOpenLine();
  unsigned comPort() const { return m_comPort; }

 private:
  unsigned m_comPort;
  std::string m_open;  // text written since the last line end
};

// A line about the module as a whole (COM number 0), such as the package load.
void logMessage(const char* format, ...) __attribute__((format(printf, 1, 2)));

// A whole text about COM port `comPort`, outside any session's own log.
void logMessageFor(unsigned comPort, const char* format, ...) __attribute__((format(printf, 2, 3)));

}  // namespace hx
