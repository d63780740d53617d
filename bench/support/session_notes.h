#pragma once
// What the module said about one phone, and when: its status reports and its
// log lines, each with the steady-clock time it reached the host, in the
// order they came. Filled from the session's thread, read afterwards.
#include <chrono>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace hxbench {

struct TimedNote {
  std::chrono::steady_clock::time_point when;
  std::string text;
};

class SessionNotes {
 public:
  void add(std::string text);
  std::vector<TimedNote> notes() const;
  // The first note whose text holds `part` ("Sending DA2", "Nand Flash Report").
  std::optional<TimedNote> first(const std::string& part) const;

 private:
  mutable std::mutex m_mutex;
  std::vector<TimedNote> m_notes;
};

}  // namespace hxbench
