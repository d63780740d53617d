#include "link_time.h"

namespace hxbench {

using hxphone::LinkTurn;

LinkTime linkTime(const LinkTurn& turn, const hxphone::PacedLink& link) {
  LinkTime time;
  time.bytesSeconds = static_cast<double>(turn.hostBytes + turn.phoneBytes) / link.bytesPerSecond;
  if (turn.phoneBytes > 0) time.turnaroundSeconds = std::chrono::duration<double>(link.turnaround).count();
  return time;
}

LinkTime linkTime(const std::vector<LinkTurn>& turns, const hxphone::PacedLink& link) {
  LinkTime total;
  for (const LinkTurn& turn : turns) {
    const LinkTime time = linkTime(turn, link);
    total.bytesSeconds += time.bytesSeconds;
    total.turnaroundSeconds += time.turnaroundSeconds;
  }
  return total;
}

std::vector<LinkPause> linkPauses(const std::vector<LinkTurn>& turns, int64_t fromNs, int64_t toNs,
                                  const std::optional<hxphone::PacedLink>& link, std::chrono::nanoseconds longerThan) {
  std::vector<LinkPause> pauses;
  int64_t stillFrom = fromNs;
  const auto stillUntil = [&](int64_t next) {
    if (next - stillFrom > longerThan.count()) pauses.push_back({stillFrom, next});
  };
  for (const LinkTurn& turn : turns) {
    stillUntil(turn.startNs);
    const double busy = link ? linkTime(turn, *link).seconds() : 0.0;
    stillFrom = turn.startNs + static_cast<int64_t>(busy * 1e9);
  }
  stillUntil(toNs);
  return pauses;
}

}  // namespace hxbench
