#pragma once
// A critical section as the module uses it: re-entrant for its owner thread,
// shared between threads, never copied.
#include <mutex>

namespace hx {

class CCriticalSection {
 public:
  CCriticalSection() = default;
  CCriticalSection(const CCriticalSection&) = delete;
  CCriticalSection& operator=(const CCriticalSection&) = delete;

  void lock() { m_mutex.lock(); }
  void unlock() { m_mutex.unlock(); }

 private:
  std::recursive_mutex m_mutex;
};

}  // namespace hx
