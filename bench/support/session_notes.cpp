#include "session_notes.h"

namespace hxbench {

void SessionNotes::add(std::string text) {
  const auto now = std::chrono::steady_clock::now();
  std::lock_guard<std::mutex> lock(m_mutex);
  m_notes.push_back({now, std::move(text)});
}

std::vector<TimedNote> SessionNotes::notes() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_notes;
}

std::optional<TimedNote> SessionNotes::first(const std::string& part) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const TimedNote& note : m_notes)
    if (note.text.find(part) != std::string::npos) return note;
  return std::nullopt;
}

}  // namespace hxbench
