#pragma once
// Ctrl-C, taken by one thread as it comes.
//   POSIX: SIGINT and SIGTERM instead of a handler: from construction on they
//   are blocked in the calling thread and in every thread it starts
//   afterwards, and stay pending until taken.
//   Windows: Ctrl-C and Ctrl-Break of the console, counted by a handler.
#if !defined(_WIN32)
#include <signal.h>
#endif

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

#if !defined(_WIN32)
 private:
  sigset_t m_signals;
  sigset_t m_previousMask;
#endif
};

}  // namespace hxflash
