#include "hxphone/stop_signal.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cstdint>
#include <stdexcept>

namespace hxphone {

StopSignal::StopSignal() {
  if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) throw std::runtime_error("pipe2 failed");
}

StopSignal::~StopSignal() {
  ::close(m_pipe[0]);
  ::close(m_pipe[1]);
}

void StopSignal::request() {
  uint8_t b = 1;
  [[maybe_unused]] auto n = ::write(m_pipe[1], &b, 1);
}

bool StopSignal::requested() const {
  pollfd p{m_pipe[0], POLLIN, 0};
  return ::poll(&p, 1, 0) > 0;
}

}  // namespace hxphone
