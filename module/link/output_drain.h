#pragma once
// Waiting until the bytes of a write have left the port. The driver's output
// queue is looked at until it is empty: finely near the moment it empties, so
// that a write ends within kDrainLag of its last byte leaving, and in longer
// pauses while it is far from empty, guessed from how fast it has emptied so
// far. The line speed the port was set to is never used for the guess: on a
// USB serial port it is nominal.
#include <array>
#include <chrono>
#include <cstddef>

namespace hx {

// A port's output queue as the drain sees it, with the clock it is measured on,
// and the phone's side of the link: a phone that has answered has every byte
// written, so its answer ends the drain without another look at the queue.
// The serial device supplies the real one; a test, a queue that empties on a
// clock of its own.
class OutputQueue {
 public:
  using Clock = std::chrono::steady_clock;

  virtual ~OutputQueue() = default;
  // Bytes written but not yet sent; a negative count when the driver cannot
  // tell, which is taken as empty.
  virtual long queuedBytes() = 0;
  virtual Clock::time_point now() = 0;
  // Waits about `span` (a little more is fine, less is not needed), or less
  // when the phone's answer arrives meanwhile: returns true then.
  virtual bool pause(std::chrono::microseconds span) = 0;
};

// The step of the fine look near the end, and the longest time a write may
// still wait after its last byte has left.
inline constexpr std::chrono::microseconds kDrainStep{100};
inline constexpr std::chrono::microseconds kDrainLag{200};

enum class DrainEnd { Drained, TimedOut };

// How a drain begins: with a watch of one fine step for the phone's answer (a
// phone that answers quickly, on a port whose queue empties at once, then
// costs no look at the queue at all), or with a look at the queue (after a
// write the phone takes in silence, where a watch would only cost its step).
enum class DrainStart { WatchForAnswer, LookAtQueue };

// Returns Drained as soon as the queue is seen empty or the phone answers,
// TimedOut when neither happened by `deadline`.
DrainEnd drainOutput(OutputQueue& queue, OutputQueue::Clock::time_point deadline,
                     DrainStart start = DrainStart::WatchForAnswer);

// Whether the phone answered the last write of each size, for the next
// write of that size: a protocol answers a command or a packet, and takes an
// acknowledgement or a field that precedes a packet in silence, the same way
// each time. A size not seen yet is taken as answered. A few sizes are kept;
// a new one replaces the oldest.
class AnswerMemory {
 public:
  bool expectsAnswer(size_t size) const;
  // A write of `size` bytes was answered before the next write, or not.
  void note(size_t size, bool answered);

 private:
  struct Entry {
    size_t size = 0;
    bool answered = true;
  };
  std::array<Entry, 8> m_entries{};
  size_t m_next = 0;  // the entry a new size takes
};

}  // namespace hx
