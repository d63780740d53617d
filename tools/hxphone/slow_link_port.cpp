#include "hxphone/slow_link_port.h"

#include <algorithm>
#include <thread>

namespace hxphone {

namespace {
constexpr size_t kSlowReadPiece = 256;
}  // namespace

SlowLinkPort::SlowLinkPort(BytePort& inner, uint32_t bytesPerSecond, double turnaroundLatencyMs)
    : m_inner(inner), m_bytesPerSecond(bytesPerSecond), m_turnaroundLatencyMs(turnaroundLatencyMs) {}

Ending SlowLinkPort::read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) {
  turnaround(Direction::FromHost);
  if (Ending end = m_inner.read(into.first(std::min(into.size(), kSlowReadPiece)), deadline, what, arrival)) return end;
  throttle(arrival->count);
  return kGoOn;
}

Ending SlowLinkPort::write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) {
  turnaround(Direction::ToHost);
  if (Ending end = m_inner.write(bytes, deadline)) return end;
  throttle(bytes.size());
  return kGoOn;
}

void SlowLinkPort::turnaround(Direction to) {
  if (m_direction != to && m_direction != Direction::None && m_turnaroundLatencyMs > 0)
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(m_turnaroundLatencyMs));
  m_direction = to;
}

// The link is busy for n bytes more: the phone waits until they have crossed.
void SlowLinkPort::throttle(size_t n) {
  if (n == 0) return;
  auto now = LinkClock::now();
  if (m_linkFreeAt < now) m_linkFreeAt = now;
  m_linkFreeAt += std::chrono::duration_cast<LinkClock::duration>(
      std::chrono::duration<double>(static_cast<double>(n) / m_bytesPerSecond));
  std::this_thread::sleep_until(m_linkFreeAt);
}

}  // namespace hxphone
