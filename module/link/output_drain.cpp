#include "link/output_drain.h"

#include <algorithm>

namespace hx {
namespace {

using std::chrono::microseconds;

// What the looks at the queue have shown so far.
class DrainWatch {
 public:
  DrainWatch(OutputQueue::Clock::time_point start, long queued)
      : m_start(start), m_startBytes(queued), m_last(queued) {}

  void saw(long queued) {
    m_largestDrop = std::max(m_largestDrop, m_last - queued);
    m_last = queued;
  }

  // How long to pause before looking again. A queue empties in drops (a USB
  // port's in whole transfers), so while the rest could go in one drop as
  // large as one already seen, or nothing has left yet, the pause is one fine
  // step. Further off, half the time the queue should take, at the rate it has
  // emptied so far, to come down to one such drop: the pauses shrink towards
  // that point, and a rate that doubles is still caught before it.
  microseconds nextPause(OutputQueue::Clock::time_point now) const {
    const long sent = m_startBytes - m_last;
    const long long elapsedUs = std::chrono::duration_cast<microseconds>(now - m_start).count();
    if (sent <= 0 || elapsedUs <= 0 || m_last <= m_largestDrop) return kDrainStep;
    const double untilLastDropUs = static_cast<double>(m_last - m_largestDrop) * static_cast<double>(elapsedUs) / sent;
    return std::max(kDrainStep, microseconds(static_cast<long long>(untilLastDropUs / 2)));
  }

 private:
  OutputQueue::Clock::time_point m_start;
  long m_startBytes;
  long m_last;
  long m_largestDrop = 0;
};

}  // namespace

DrainEnd drainOutput(OutputQueue& queue, OutputQueue::Clock::time_point deadline, DrainStart start) {
  const auto begun = queue.now();
  if (start == DrainStart::WatchForAnswer && begun < deadline &&
      queue.pause(std::min(kDrainStep, std::chrono::ceil<microseconds>(deadline - begun))))
    return DrainEnd::Drained;
  long queued = queue.queuedBytes();
  DrainWatch watch(queue.now(), queued);
  for (;;) {
    if (queued <= 0) return DrainEnd::Drained;
    const auto now = queue.now();
    if (now >= deadline) return DrainEnd::TimedOut;
    const auto left = std::chrono::ceil<microseconds>(deadline - now);
    if (queue.pause(std::min(watch.nextPause(now), left))) return DrainEnd::Drained;
    queued = queue.queuedBytes();
    watch.saw(queued);
  }
}

bool AnswerMemory::expectsAnswer(size_t size) const {
  for (const Entry& e : m_entries)
    if (e.size == size) return e.answered;
  return true;
}

void AnswerMemory::note(size_t size, bool answered) {
  for (Entry& e : m_entries) {
    if (e.size == size) {
      e.answered = answered;
      return;
    }
  }
  m_entries[m_next] = {size, answered};
  m_next = (m_next + 1) % m_entries.size();
}

}  // namespace hx
