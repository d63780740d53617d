#pragma once
// A paced link: the bytes of one direction cross at a fixed byte rate, the
// way a USB full-speed serial port moves them, and an answer starts a fixed
// turnaround after the last byte it answers.
//
// LinkPacer keeps one direction's schedule against absolute deadlines: the
// k-th byte of a run has crossed at the run's start + k / rate, however late
// the sleeps between pieces wake, so a late wake-up is made good by the next
// piece instead of being lost. A run ends when the link has stood idle longer
// than its slack; the next bytes start a new run when they come. It reads no
// clock: the caller passes the time, and sleeps until the time it returns.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

namespace hxphone {

struct PacedLink {
  // About what a USB full-speed CDC-ACM port carries: 12 Mbit/s on the bus,
  // at most 19 bulk packets of 64 bytes in a 1 ms frame (1216 bytes), fewer in
  // practice once the bus shares its frames.
  uint32_t bytesPerSecond = 1'000'000;
  // The host polls the device once a frame: an answer leaves about a frame
  // after the request has arrived.
  std::chrono::microseconds turnaround{1000};
  // Bytes move a frame's worth at a time.
  std::chrono::microseconds frame{1000};

  // Bytes of one frame at the rate: never below one full-speed bulk packet.
  size_t bytesPerFrame() const;
};

// "usb-fs[:BPS[:TURNAROUND_US]]": the link, or why the text is not one.
struct PacedLinkParse {
  std::optional<PacedLink> link;
  std::string error;
};
PacedLinkParse parsePacedLink(const std::string& text);

class LinkPacer {
 public:
  using Clock = std::chrono::steady_clock;

  // slack: how long the link may stand idle and still be one run.
  LinkPacer(uint32_t bytesPerSecond, Clock::duration slack);

  // n bytes go onto the link at `now`, but not before `earliest`: returns the
  // time the last of them has crossed.
  Clock::time_point pass(Clock::time_point now, size_t n, Clock::time_point earliest = {});

  // n bytes that were queued behind the last ones (the rest of a write, or
  // bytes waiting in the descriptor) follow them on the link, however late
  // they are handed over: returns the time the last of them has crossed.
  Clock::time_point follow(size_t n);

  // When the bytes passed so far have all crossed.
  Clock::time_point freeAt() const;

  // The caller, sleeping until a time pass returned, woke at `now`.
  void wokeAt(Clock::time_point now);

 private:
  uint32_t m_rate;
  Clock::duration m_slack;
  Clock::time_point m_runStart{};
  uint64_t m_runBytes = 0;
  Clock::time_point m_wokeAt{};  // the last wake-up from a deadline of this run
};

}  // namespace hxphone
