#pragma once
// The fixed waits a flash keeps by design, each named with its nominal length
// at module clock 1 and the place where it shows on the link; and what a
// flash was seen to spend in each.
//
// A wait is observed, not assumed: it counts for as long as the link stood
// still at its place (link_time.h), at most its nominal length. So a wait
// that ends early once the phone has spoken counts for what it lasted, and
// the host's own slowness around a wait is never counted as the wait.
#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "link_time.h"
#include "session_notes.h"

namespace hxbench {

struct FixedWait {
  const char* name;
  std::chrono::milliseconds nominal;
  // Where it shows: the stillness of the link that holds the first report or
  // log line of the phone's session with this text (the module gives it at
  // the wait's end, before its next byte). Empty: the stillness that opens
  // the window, from the phone's plug-in to the first byte on its link.
  const char* note;
};

// Every fixed wait of one flash, in the order they come.
std::span<const FixedWait> fixedWaits();

struct ObservedWait {
  const FixedWait* wait = nullptr;
  bool placed = false;        // its note came, and the link stood still around it
  LinkPause still;            // the stillness at its place, when placed
  double countedSeconds = 0;  // the stillness, at most the nominal length
};

// `pauses`: every stillness of the window (however short), from `windowStartNs` on.
std::vector<ObservedWait> observeFixedWaits(const std::vector<LinkPause>& pauses, const SessionNotes& notes,
                                            int64_t windowStartNs);

double countedSeconds(const std::vector<ObservedWait>& waits);

// The stillness over `longerThan` at no fixed wait's place: where the host or
// the phone, not the design, kept the link waiting.
std::vector<LinkPause> otherPauses(const std::vector<LinkPause>& pauses, const std::vector<ObservedWait>& waits,
                                   std::chrono::nanoseconds longerThan);

}  // namespace hxbench
