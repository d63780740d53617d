#include "fixed_waits.h"

#include <algorithm>
#include <array>

#include "flash_turns.h"

namespace hxbench {
namespace {

using std::chrono::milliseconds;

// Found in the module and the phone: the session's port poll and the phone's
// wait for a host to open its port (module/plugin, tools/hxphone), the
// checksum wait after each agent image (module/protocol/bootrom.cpp), the
// agent connection's two settling waits (module/protocol/agent_connection.cpp).
constexpr std::array<FixedWait, 5> kFixedWaits = {{
    {"plug-in: module port poll 10 ms + phone open poll 5 ms", milliseconds(15), ""},
    {"BootROM checksum wait after DA1", milliseconds(200), "Sending DA2"},
    {"BootROM checksum wait after DA2", milliseconds(200), "Transferring control to DA"},
    {"agent connection: first wait", milliseconds(3000), "Start DA Connect"},
    {"agent connection: wait for the flash report", milliseconds(3000), "Nand Flash Report"},
}};

// The time the wait's place is known by: its note, or the window's start.
std::optional<int64_t> placeOf(const FixedWait& wait, const SessionNotes& notes, int64_t windowStartNs) {
  if (*wait.note == '\0') return windowStartNs;
  const std::optional<TimedNote> note = notes.first(wait.note);
  if (!note) return std::nullopt;
  return steadyNs(note->when);
}

}  // namespace

std::span<const FixedWait> fixedWaits() { return kFixedWaits; }

std::vector<ObservedWait> observeFixedWaits(const std::vector<LinkPause>& pauses, const SessionNotes& notes,
                                            int64_t windowStartNs) {
  std::vector<ObservedWait> observed;
  for (const FixedWait& wait : kFixedWaits) {
    ObservedWait seen;
    seen.wait = &wait;
    const std::optional<int64_t> place = placeOf(wait, notes, windowStartNs);
    const auto still = std::find_if(pauses.begin(), pauses.end(), [&](const LinkPause& p) {
      return place && p.holds(*place);
    });
    if (still != pauses.end()) {
      seen.placed = true;
      seen.still = *still;
      seen.countedSeconds = std::min(still->seconds(), std::chrono::duration<double>(wait.nominal).count());
    }
    observed.push_back(seen);
  }
  return observed;
}

double countedSeconds(const std::vector<ObservedWait>& waits) {
  double total = 0;
  for (const ObservedWait& wait : waits) total += wait.countedSeconds;
  return total;
}

std::vector<LinkPause> otherPauses(const std::vector<LinkPause>& pauses, const std::vector<ObservedWait>& waits,
                                   std::chrono::nanoseconds longerThan) {
  std::vector<LinkPause> others;
  for (const LinkPause& pause : pauses) {
    const bool atWait = std::any_of(waits.begin(), waits.end(), [&](const ObservedWait& w) {
      return w.placed && w.still.fromNs == pause.fromNs;
    });
    if (!atWait && pause.toNs - pause.fromNs > longerThan.count()) others.push_back(pause);
  }
  return others;
}

}  // namespace hxbench
