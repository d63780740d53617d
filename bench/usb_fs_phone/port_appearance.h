#pragma once
// When each entry of a ports directory appeared, as this process's steady
// clock saw it: a phone plugging in (hxphone renames its com<N> link into
// place). An inotify watch, read by a thread of its own while the object lives.
#include <chrono>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace hxbench {

class PortAppearance {
 public:
  // Throws when the directory cannot be watched.
  explicit PortAppearance(const std::string& dir);
  ~PortAppearance();
  PortAppearance(const PortAppearance&) = delete;
  PortAppearance& operator=(const PortAppearance&) = delete;

  // The first time an entry named `name` ("com41") appeared, if it has.
  std::optional<std::chrono::steady_clock::time_point> first(const std::string& name) const;

 private:
  void watch();
  void readEvents();

  int m_inotify = -1;
  int m_stop = -1;  // an eventfd: written when the object goes
  std::thread m_thread;
  mutable std::mutex m_mutex;
  std::map<std::string, std::chrono::steady_clock::time_point> m_appeared;
};

}  // namespace hxbench
