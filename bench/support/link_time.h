#pragma once
// What a flash's turns cost the link itself, and where the link stood still.
//
// On a paced link (hxphone --link usb-fs) a turn needs its bytes at the
// link's rate each way, and a turnaround before its answer when it has one.
// Between turns the link stands still: from the moment the last turn's bytes
// have crossed (its start plus its link time; on a plain pty, its start) to
// the next turn's start. The module's fixed waits show there.
#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "hxphone/link_pacer.h"
#include "hxphone/link_turns.h"

namespace hxbench {

struct LinkTime {
  double bytesSeconds = 0;
  double turnaroundSeconds = 0;
  double seconds() const { return bytesSeconds + turnaroundSeconds; }
};

LinkTime linkTime(const hxphone::LinkTurn& turn, const hxphone::PacedLink& link);
LinkTime linkTime(const std::vector<hxphone::LinkTurn>& turns, const hxphone::PacedLink& link);

// A stretch of the link's stillness, in steady-clock nanoseconds.
struct LinkPause {
  int64_t fromNs = 0;
  int64_t toNs = 0;
  double seconds() const { return static_cast<double>(toNs - fromNs) / 1e9; }
  bool holds(int64_t ns) const { return fromNs <= ns && ns <= toNs; }
};

// The stillness longer than `longerThan` from `fromNs` to the first turn,
// between the turns, and from the last turn to `toNs`. `turns` are those of
// that span, in order; `link` is none for a plain pty.
std::vector<LinkPause> linkPauses(const std::vector<hxphone::LinkTurn>& turns, int64_t fromNs, int64_t toNs,
                                  const std::optional<hxphone::PacedLink>& link, std::chrono::nanoseconds longerThan);

}  // namespace hxbench
