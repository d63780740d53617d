#pragma once
// What one session's steps report to: their engine events, their log lines
// and, when a step stops the download, why in its own words. The session's
// controller owns it and hands it down with the link; no step looks up its
// session.
#include <string>
#include <string_view>

#include "protocol/engine_events.h"

namespace hx {

class SessionReport {
 public:
  virtual ~SessionReport() = default;

  virtual void event(EventKind kind, int value, const char* text = "") = 0;
  // A piece of the session's log; lines end at their "\n".
  virtual void logText(std::string_view text) = 0;
  // Why a step stopped the download, as the step decided it (a refusal's
  // reason, the block whose write failed); kept for the line that ends it.
  virtual void noteWhy(std::string why) = 0;

  // Formats printf-style into 512 characters and logs the text.
  void log(const char* format, ...) __attribute__((format(printf, 2, 3)));
  void progress(int percent) { event(kEventProgress, percent); }
  void step(int value, const char* text) { event(kEventStep, value, text); }
  void subStep(int value, const char* text) { event(kEventSubStep, value, text); }
};

}  // namespace hx
