#include "platform/clock.h"

#include <atomic>
#include <thread>

namespace hx {
namespace {

std::atomic<double> g_timeScale{1.0};

std::chrono::microseconds scaled(uint32_t nominalMs) {
  const double us = static_cast<double>(nominalMs) * 1000.0 * g_timeScale.load(std::memory_order_relaxed);
  return std::chrono::microseconds(static_cast<int64_t>(us));
}

}  // namespace

uint32_t tickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

void sleepMs(uint32_t ms) {
  if (ms == 0) return;
  std::this_thread::sleep_for(scaled(ms));
}

bool setTimeScale(double factor) {
  if (!(factor > 0.0 && factor <= 1.0)) return false;
  g_timeScale.store(factor, std::memory_order_relaxed);
  return true;
}

double timeScale() { return g_timeScale.load(std::memory_order_relaxed); }

Deadline::Deadline(uint32_t nominalMs)
    : m_start(std::chrono::steady_clock::now()), m_end(m_start + scaled(nominalMs)) {}

bool Deadline::expired() const { return std::chrono::steady_clock::now() >= m_end; }

uint32_t Deadline::remainingMs() const {
  const auto left = m_end - std::chrono::steady_clock::now();
  if (left <= std::chrono::steady_clock::duration::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

uint32_t Deadline::elapsedMs() const {
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - m_start).count();
  return ms > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(ms);
}

}  // namespace hx
