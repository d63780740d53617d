#pragma once
// The module's one clock. Every fixed wait and poll of the module (the reset
// countdown, the agent's settle waits, the polls of the waiting loops and the
// bounds on how long a silent or babbling phone is waited for) goes through
// it, so a test or the demo can run the same code faster with SetTimeScale.
// Link time-outs are protocol timing and are not scaled.
#include <chrono>
#include <cstdint>

namespace hx {

// Bounds on waits for the phone: no wait lasts for ever.
inline constexpr uint32_t kReplyBoundMs = 60'000;       // any answer, byte or state
inline constexpr uint32_t kFlashScanBoundMs = 600'000;  // the agent's flash scan

// Milliseconds since an arbitrary start; wraps like a 32-bit tick counter.
uint32_t tickCount();

// Suspends the calling thread for `ms` nominal milliseconds (scaled).
void sleepMs(uint32_t ms);

// Sets the factor every scaled wait is multiplied by. Refuses (returns false)
// a factor outside (0, 1].
bool setTimeScale(double factor);
double timeScale();

// A point in time `nominalMs` scaled milliseconds from now.
class Deadline {
 public:
  explicit Deadline(uint32_t nominalMs);
  bool expired() const;
  // Time left, at least 0, in real milliseconds (rounded up).
  uint32_t remainingMs() const;
  // Time since it was set, in real milliseconds.
  uint32_t elapsedMs() const;

 private:
  std::chrono::steady_clock::time_point m_start;
  std::chrono::steady_clock::time_point m_end;
};

}  // namespace hx
