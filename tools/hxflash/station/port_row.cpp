#include "station/port_row.h"

#include <fmt/core.h>

#include <cstdio>

namespace hxflash {
namespace {

constexpr size_t kBarWidth = 6;

double secondsBetween(ViewClock::time_point from, ViewClock::time_point to) {
  return std::chrono::duration<double>(to - from).count();
}

std::optional<int> countdownSeconds(const HostEvent& event) {
  int seconds = 0;
  if (event.code != kNotifyStatus || std::sscanf(event.text.c_str(), "Waiting for Reset %d sec..", &seconds) != 1)
    return std::nullopt;
  return seconds;
}

std::string bar(int percent) {
  const size_t filled = static_cast<size_t>(percent) * kBarWidth / 100;
  return std::string(filled, '#') + std::string(kBarWidth - filled, '.');
}

std::string rate(double bytesPerSecond) {
  if (bytesPerSecond <= 0) return "";
  return formatBytes(static_cast<uint64_t>(bytesPerSecond)) + "/s";
}

std::string fit(std::string text, size_t width) {
  const size_t columns = width > 0 ? width - 1 : 0;
  if (text.size() > columns) text.resize(columns);
  return text;
}

}  // namespace

const char* stateName(PortState state) {
  switch (state) {
    case PortState::Waiting: return "waiting";
    case PortState::Connecting: return "connecting";
    case PortState::Writing: return "writing";
    case PortState::Resetting: return "resetting";
    case PortState::Flashed: return "flashed";
    case PortState::Failed: return "failed";
  }
  return "";
}

PortRow::PortRow(uint32_t comPort, const TransferPlan& plan) : m_comPort(comPort), m_plan(plan), m_transfer(plan) {}

void PortRow::notice(const std::string& text) {
  if (m_state == PortState::Waiting) m_step = text;
}

void PortRow::startTurn(int phone) {
  m_phone = phone;
  m_transfer = TransferTracker(m_plan);
  m_state = PortState::Waiting;
  m_step.clear();
  m_countdown = 0;
  m_connectedAt.reset();
  m_writingSince.reset();
  m_writingUntil.reset();
  m_endedAt.reset();
}

void PortRow::take(int phone, const HostEvent& event, ViewClock::time_point now) {
  if (phone != m_phone) startTurn(phone);
  if (m_endedAt) return;  // a late report of a turn that has ended
  m_transfer.take(event);
  if (event.code == kNotifyConnected) {
    m_state = PortState::Connecting;
    m_step = "phone plugged in";
    m_connectedAt = now;
  } else if (event.code == kNotifyError) {
    m_state = PortState::Failed;  // the step stays: it is the one that failed
    if (m_writingSince && !m_writingUntil) m_writingUntil = now;
  } else if (const auto seconds = countdownSeconds(event)) {
    if (m_state != PortState::Resetting && m_writingSince) m_writingUntil = now;
    m_state = PortState::Resetting;
    m_countdown = *seconds;
    m_step = "the phone restarts";
  } else if (event.code == kNotifyStatus || event.code == kNotifyProgress) {
    if (event.code == kNotifyStatus) m_step = event.text;
    const bool firstWrite = event.code == kNotifyProgress || event.text == "Start Write Bootloader";
    if (m_state == PortState::Connecting && firstWrite) {
      m_state = PortState::Writing;
      m_writingSince = now;
    }
  }
}

void PortRow::end(const PhoneResult& result, ViewClock::time_point now) {
  if (result.phone != m_phone) startTurn(result.phone);
  m_endedAt = now;
  if (m_writingSince && !m_writingUntil) m_writingUntil = now;
  if (result.written()) {
    m_state = PortState::Flashed;
    m_step = result.succeeded ? "" : "reset not awaited";
  } else if (result.connected) {
    m_state = PortState::Failed;
    m_step = failedStep(result.events);
  } else {
    m_step = "stopped: no phone came";
  }
}

RowFigures PortRow::figures(ViewClock::time_point now) const {
  RowFigures f;
  f.bytes = m_transfer.bytesDone();
  f.percent = m_transfer.percent();
  const ViewClock::time_point until = m_endedAt.value_or(now);
  if (m_connectedAt) f.elapsed = secondsBetween(*m_connectedAt, until);
  if (m_writingSince) {
    const double writing = secondsBetween(*m_writingSince, m_writingUntil.value_or(until));
    if (writing > 0) f.bytesPerSecond = static_cast<double>(f.bytes) / writing;
  }
  if (m_state == PortState::Resetting) {
    f.left = m_countdown;
  } else if (m_state == PortState::Writing && f.bytesPerSecond > 0) {
    f.left = static_cast<double>(m_transfer.bytesTotal() - f.bytes) / f.bytesPerSecond;
  }
  return f;
}

std::string formatBytes(uint64_t bytes) {
  static const char* const kUnits = "KMGT";
  if (bytes < 1000) return fmt::format("{}B", bytes);
  double value = static_cast<double>(bytes) / 1024.0;
  size_t unit = 0;
  while (value >= 999.5 && unit + 1 < 4) {
    value /= 1024.0;
    ++unit;
  }
  return value < 9.95 ? fmt::format("{:.1f}{}", value, kUnits[unit]) : fmt::format("{:.0f}{}", value, kUnits[unit]);
}

std::string formatClock(double seconds) {
  const long total = seconds > 0 ? static_cast<long>(seconds + 0.5) : 0;
  if (total < 3600) return fmt::format("{}:{:02}", total / 60, total % 60);
  return fmt::format("{}:{:02}", total / 3600, total % 3600 / 60);
}

std::string formatRow(const PortRow& row, ViewClock::time_point now, size_t width) {
  const std::string phone = row.phone() > 0 ? std::to_string(row.phone()) : "";
  std::string text = fmt::format("COM{:<3}{:>4} {:<10} ", row.comPort(), phone, stateName(row.state()));
  if (row.state() != PortState::Waiting) {
    const RowFigures f = row.figures(now);
    text += fmt::format("{} {:>3}% {:>5} {:>6} {:>5} {:>5} ", bar(f.percent), f.percent, formatBytes(f.bytes),
                        rate(f.bytesPerSecond), formatClock(f.elapsed), f.left ? formatClock(*f.left) : "");
  }
  return fit(text + row.step(), width);
}

std::string formatRowHeader(size_t width) {
  constexpr size_t kProgressWidth = kBarWidth + 5;  // the bar and the percentage
  return fit(fmt::format("{:<6}{:>4} {:<10} {:<{}} {:>5} {:>6} {:>5} {:>5} {}", "port", "#", "state", "progress",
                         kProgressWidth, "bytes", "speed", "time", "left", "step"),
             width);
}

}  // namespace hxflash
