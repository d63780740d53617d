#pragma once
// What one port is doing, as the station's view shows it in one row: its
// phone, the state of that phone's turn, the step, and the figures of its
// download (share of the whole, bytes, throughput, elapsed time, time left).
// Built from the session's reports; no terminal here, so that the layout and
// the arithmetic can be checked on their own.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "host/flash_runner.h"
#include "station/transfer_plan.h"

namespace hxflash {

enum class PortState { Waiting, Connecting, Writing, Resetting, Flashed, Failed };

const char* stateName(PortState state);

using ViewClock = std::chrono::steady_clock;

// The figures of a row at one moment.
struct RowFigures {
  int percent = 0;             // of the whole download
  uint64_t bytes = 0;          // sent so far
  double elapsed = 0;          // seconds since the phone connected
  double bytesPerSecond = 0;   // since the first write; 0 before it
  std::optional<double> left;  // seconds: the estimate while writing, the countdown while resetting
};

class PortRow {
 public:
  PortRow(uint32_t comPort, const TransferPlan& plan);

  // How the port waits (before its phone connects).
  void notice(const std::string& text);
  // One report of the session about phone `phone`; a new number starts a new turn.
  void take(int phone, const HostEvent& event, ViewClock::time_point now);
  // The turn of the row's phone has ended as `result` says.
  void end(const PhoneResult& result, ViewClock::time_point now);

  uint32_t comPort() const { return m_comPort; }
  int phone() const { return m_phone; }
  PortState state() const { return m_state; }
  const std::string& step() const { return m_step; }
  RowFigures figures(ViewClock::time_point now) const;

 private:
  void startTurn(int phone);

  uint32_t m_comPort;
  const TransferPlan& m_plan;
  TransferTracker m_transfer;
  int m_phone = 0;
  PortState m_state = PortState::Waiting;
  std::string m_step;
  int m_countdown = 0;
  std::optional<ViewClock::time_point> m_connectedAt;
  std::optional<ViewClock::time_point> m_writingSince;
  std::optional<ViewClock::time_point> m_writingUntil;  // the countdown began, or the turn ended
  std::optional<ViewClock::time_point> m_endedAt;
};

// "12K", "1.5M", "980B": at most five characters below a terabyte.
std::string formatBytes(uint64_t bytes);
// "m:ss", or "h:mm" past an hour: at most five characters below 100 hours.
std::string formatClock(double seconds);

// The row of `row` and the header above the rows, each cut to `width` - 1
// columns so that no terminal wraps them.
std::string formatRow(const PortRow& row, ViewClock::time_point now, size_t width);
std::string formatRowHeader(size_t width);

}  // namespace hxflash
