#pragma once
// Engine events: every protocol and writing step reports its progress through
// one module-wide event function, keyed by the session's COM port number.

#include <cstdint>

namespace hx {

// Event kinds.
enum EventKind : unsigned {
  kEventDownloadComplete = 0,
  kEventError = 1,
  kEventProgress = 3,  // value 0..100, empty text
  kEventSubStep = 4,   // sub-step status with text
  kEventStep = 5,      // step status with text (0 at a step's start, 100 at its end)
};

using EngineEventFn = void (*)(unsigned port, unsigned kind, int value, const char* text);

// Installs the event function (every download installs the same one).
void setEngineEventCallback(EngineEventFn fn);

// Sends one event through the installed function; does nothing when none is
// installed.
void reportEvent(unsigned key, unsigned kind, int value, const char* text = "");

// Progress as the protocol computes it: done / total x 100 in double precision,
// truncated toward zero; 100 for a total of 0.
int percentOf(uint64_t done, uint64_t total);

}  // namespace hx
