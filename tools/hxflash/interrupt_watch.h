#pragma once
// Ctrl-C (SIGINT) and SIGTERM, taken by one thread as they come instead of by
// a handler: from construction on they are blocked in the calling thread and
// in every thread it starts afterwards, and stay pending until taken.
#include <signal.h>

#include <chrono>

namespace hxflash {

class InterruptWatch {
 public:
  InterruptWatch();
  // Drops what is still pending and restores the signal mask.
  ~InterruptWatch();
  InterruptWatch(const InterruptWatch&) = delete;
  InterruptWatch& operator=(const InterruptWatch&) = delete;

  // Waits at most `limit` for an interrupt; the number taken (0 or 1).
  int take(std::chrono::milliseconds limit);

 private:
  sigset_t m_signals;
  sigset_t m_previousMask;
};

}  // namespace hxflash
