#pragma once
// Engine events: what a session's steps report of their progress. The kinds
// are the engine's; the session's controller turns each into a host report.
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

// Progress as the protocol computes it: done / total x 100 in double precision,
// truncated toward zero; 100 for a total of 0.
int percentOf(uint64_t done, uint64_t total);

}  // namespace hx
