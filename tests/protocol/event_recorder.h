#pragma once
// Records the engine events a step sends while it is alive.
#include <mutex>
#include <string>
#include <vector>

#include "platform/clock.h"
#include "protocol/engine_events.h"

namespace hx::test {

struct RecordedEvent {
  unsigned key;
  unsigned kind;
  int value;
  std::string text;
  bool operator==(const RecordedEvent&) const = default;
};

class EventRecorder {
 public:
  EventRecorder() {
    std::lock_guard lock(mutex());
    current() = this;
    setEngineEventCallback(&EventRecorder::record);
  }
  ~EventRecorder() {
    std::lock_guard lock(mutex());
    setEngineEventCallback(nullptr);
    current() = nullptr;
  }
  EventRecorder(const EventRecorder&) = delete;
  EventRecorder& operator=(const EventRecorder&) = delete;

  std::vector<RecordedEvent> events;

  std::vector<int> progress() const {
    std::vector<int> out;
    for (const auto& e : events)
      if (e.kind == kEventProgress) out.push_back(e.value);
    return out;
  }
  std::vector<std::string> texts(unsigned kind) const {
    std::vector<std::string> out;
    for (const auto& e : events)
      if (e.kind == kind) out.push_back(e.text);
    return out;
  }

 private:
  static std::mutex& mutex() {
    static std::mutex m;
    return m;
  }
  static EventRecorder*& current() {
    static EventRecorder* r = nullptr;
    return r;
  }
  static void record(unsigned key, unsigned kind, int value, const char* text) {
    std::lock_guard lock(mutex());
    if (current()) current()->events.push_back({key, kind, value, text ? text : ""});
  }
};

// Runs the clock fast while alive, so bounded waits on a silent script end quickly.
class FastClock {
 public:
  explicit FastClock(double factor = 1e-5) { setTimeScale(factor); }
  ~FastClock() { setTimeScale(1.0); }
};

}  // namespace hx::test
