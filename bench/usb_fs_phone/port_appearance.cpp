#include "port_appearance.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

namespace hxbench {

PortAppearance::PortAppearance(const std::string& dir) {
  m_inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
  m_stop = ::eventfd(0, EFD_CLOEXEC);
  if (m_inotify < 0 || m_stop < 0 || ::inotify_add_watch(m_inotify, dir.c_str(), IN_CREATE | IN_MOVED_TO) < 0) {
    if (m_inotify >= 0) ::close(m_inotify);
    if (m_stop >= 0) ::close(m_stop);
    throw std::runtime_error("cannot watch " + dir + " for phones plugging in: " + std::strerror(errno));
  }
  m_thread = std::thread([this] { watch(); });
}

PortAppearance::~PortAppearance() {
  const uint64_t one = 1;
  [[maybe_unused]] const ssize_t written = ::write(m_stop, &one, sizeof one);  // an eventfd takes it
  m_thread.join();
  ::close(m_inotify);
  ::close(m_stop);
}

std::optional<std::chrono::steady_clock::time_point> PortAppearance::first(const std::string& name) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_appeared.find(name);
  if (it == m_appeared.end()) return std::nullopt;
  return it->second;
}

void PortAppearance::watch() {
  for (;;) {
    pollfd fds[2] = {{m_inotify, POLLIN, 0}, {m_stop, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return;
    if (fds[1].revents) return;
    if (fds[0].revents) readEvents();
  }
}

void PortAppearance::readEvents() {
  const auto now = std::chrono::steady_clock::now();
  alignas(inotify_event) char buffer[4096];
  for (;;) {
    const ssize_t got = ::read(m_inotify, buffer, sizeof buffer);
    if (got <= 0) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    for (ssize_t at = 0; at < got;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      if (event->len > 0) m_appeared.try_emplace(event->name, now);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
    }
  }
}

}  // namespace hxbench
