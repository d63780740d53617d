#include "station/interrupt_watch.h"

#include <pthread.h>

#include <cerrno>
#include <ctime>

namespace hxflash {

InterruptWatch::InterruptWatch() {
  sigemptyset(&m_signals);
  sigaddset(&m_signals, SIGINT);
  sigaddset(&m_signals, SIGTERM);
  // An ignored signal would be dropped before it could be taken.
  ::signal(SIGINT, SIG_DFL);
  ::signal(SIGTERM, SIG_DFL);
  pthread_sigmask(SIG_BLOCK, &m_signals, &m_previousMask);
}

InterruptWatch::~InterruptWatch() {
  const timespec none{0, 0};
  while (::sigtimedwait(&m_signals, nullptr, &none) > 0) {
  }
  pthread_sigmask(SIG_SETMASK, &m_previousMask, nullptr);
}

int InterruptWatch::take(std::chrono::milliseconds limit) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(limit);
  const timespec wait{static_cast<time_t>(seconds.count()),
                      static_cast<long>(std::chrono::nanoseconds(limit - seconds).count())};
  for (;;) {
    const int taken = ::sigtimedwait(&m_signals, nullptr, &wait);
    if (taken > 0) return 1;
    if (errno != EINTR) return 0;  // EAGAIN: none came
  }
}

}  // namespace hxflash
