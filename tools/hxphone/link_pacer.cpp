#include "hxphone/link_pacer.h"

#include <algorithm>
#include <charconv>
#include <stdexcept>

namespace hxphone {

namespace {

constexpr size_t kBulkPacket = 64;
constexpr uint32_t kLongestTurnaroundUs = 1'000'000;
// A frame's piece is at least a bulk packet: below this rate one would take
// longer than a phone may stay deaf to its owner.
constexpr uint32_t kSlowestRate = 1000;

bool parseNumber(std::string_view text, uint32_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size() && !text.empty();
}

}  // namespace

size_t PacedLink::bytesPerFrame() const {
  auto bytes = static_cast<uint64_t>(bytesPerSecond) * static_cast<uint64_t>(frame.count()) / 1'000'000;
  return static_cast<size_t>(std::max<uint64_t>(bytes, kBulkPacket));
}

PacedLinkParse parsePacedLink(const std::string& text) {
  std::string_view rest = text;
  const std::string_view kind = rest.substr(0, rest.find(':'));
  if (kind != "usb-fs") return {std::nullopt, "unknown link '" + std::string(kind) + "' (usb-fs)"};
  rest.remove_prefix(kind.size());
  PacedLink link;
  if (!rest.empty()) {
    rest.remove_prefix(1);
    const std::string_view rate = rest.substr(0, rest.find(':'));
    if (!parseNumber(rate, link.bytesPerSecond) || link.bytesPerSecond < kSlowestRate)
      return {std::nullopt, "bad byte rate '" + std::string(rate) + "' (at least 1000 bytes per second)"};
    rest.remove_prefix(rate.size());
  }
  if (!rest.empty()) {
    rest.remove_prefix(1);
    uint32_t us = 0;
    if (!parseNumber(rest, us) || us > kLongestTurnaroundUs)
      return {std::nullopt, "bad turnaround '" + std::string(rest) + "' (microseconds, at most 1000000)"};
    link.turnaround = std::chrono::microseconds(us);
  }
  return {link, ""};
}

LinkPacer::LinkPacer(uint32_t bytesPerSecond, Clock::duration slack) : m_rate(bytesPerSecond), m_slack(slack) {
  if (bytesPerSecond == 0) throw std::invalid_argument("a paced link needs a byte rate");
}

LinkPacer::Clock::time_point LinkPacer::freeAt() const {
  // Whole seconds and the rest apart: no overflow however long the run.
  const uint64_t seconds = m_runBytes / m_rate;
  const uint64_t restNs = (m_runBytes % m_rate) * 1'000'000'000 / m_rate;
  return m_runStart + std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(seconds) +
                                                                   std::chrono::nanoseconds(restNs));
}

LinkPacer::Clock::time_point LinkPacer::pass(Clock::time_point now, size_t n, Clock::time_point earliest) {
  const Clock::time_point free = freeAt();
  const Clock::time_point start = std::max(now, earliest);
  const Clock::time_point idleSince = std::max(free, m_wokeAt);
  if (m_runBytes == 0 || earliest > free || start > idleSince + m_slack) {
    m_runStart = start;
    m_runBytes = 0;
  }
  m_runBytes += n;
  return freeAt();
}

LinkPacer::Clock::time_point LinkPacer::follow(size_t n) {
  m_runBytes += n;
  return freeAt();
}

void LinkPacer::wokeAt(Clock::time_point now) { m_wokeAt = std::max(m_wokeAt, now); }

}  // namespace hxphone
