// The report for people when standard output is no terminal (a file, a pipe,
// a station's log): one time-stamped line per event of a port, then the
// summary. A progress report or a second of the reset countdown is an event
// only when verbose; each step's line carries the share of the whole download.
// On a console the countdown is one line that each second rewrites.
#include <fmt/core.h>

#include <atomic>
#include <cstdio>
#include <map>
#include <mutex>
#include <optional>
#include <string>

#include "station/flash_report.h"
#include "station/port_row.h"
#include "station/run_logs.h"
#include "station/station_summary.h"
#include "station/time_stamp.h"

namespace hxflash {
namespace {

class LineReport final : public FlashReport {
 public:
  explicit LineReport(StationSetup setup) : m_setup(std::move(setup)) {}

  void portNotice(uint32_t comPort, const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ended) portLine(comPort, text);
  }

  void stopping(const std::string& text) override {
    m_stopping.store(true);
    std::lock_guard<std::mutex> lock(m_mutex);
    endUpdatingLine();
    fmt::print(stderr, "hxflash flash: {}\n", text);
  }

  void event(uint32_t comPort, int phone, const HostEvent& event) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A session that stops waiting reports the end of its wait (code 16) too.
    if (m_ended || (event.code == kNotifyConnected && m_stopping.load())) return;
    PortRow& row = rowOf(comPort);
    const PortState before = row.state();
    const std::string stepBefore = row.step();
    row.take(phone, event, ViewClock::now());
    if (m_setup.console && row.state() == PortState::Resetting && event.code != kNotifyError) {
      write(comPort, describe(row, event, stepBefore), true);
      return;
    }
    if (!m_setup.verbose && !shown(event, before, row)) return;
    // A report that says again what the port's last line said (a progress
    // of 100 sent twice) is not repeated.
    std::string text = describe(row, event, stepBefore);
    std::string& last = m_lastEventLine[comPort];
    if (text == last) return;
    last = text;
    portLine(comPort, text);
  }

  void phoneEnded(const PhoneResult& result) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended || !result.connected) return;
    PortRow& row = rowOf(result.comPort);
    row.end(result, ViewClock::now());
    portLine(result.comPort, ended(row, result));
  }

  // After the summary nothing more is printed, though a session that the run
  // did not wait for may still report.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    endUpdatingLine();
    writeSummary(m_setup.out, results, end, m_setup.logs);
  }

 private:
  PortRow& rowOf(uint32_t comPort) { return m_rows.try_emplace(comPort, comPort, m_setup.plan).first->second; }

  // A phone connects, a step begins, an error, the countdown begins and every
  // ten seconds of it.
  static bool shown(const HostEvent& event, PortState before, const PortRow& row) {
    if (event.code == kNotifyProgress) return false;
    if (row.state() == PortState::Resetting) return before != PortState::Resetting || countdownSeconds(event) % 10 == 0;
    return true;
  }

  // The seconds a countdown report says are left ("Waiting for Reset 70 sec.."); 1 when it says none.
  static int countdownSeconds(const HostEvent& event) {
    int seconds = 1;
    std::sscanf(event.text.c_str(), "Waiting for Reset %d", &seconds);
    return seconds;
  }

  // "phone 1 flashed after 41.2 s"; a failed phone's line names its step as
  // the summary does, and the module's reason.
  static std::string ended(const PortRow& row, const PhoneResult& result) {
    const std::string head = fmt::format("phone {}", result.phone);
    if (outcomeOf(result) != PhoneOutcome::Failed)
      return fmt::format("{} {} after {:.1f} s", head, stateName(row.state()), result.seconds);
    const std::string step = failedStep(result.events);
    const std::string where = step == kBeforeFirstStep ? step : fmt::format("in \"{}\"", step);
    std::string line = fmt::format("{} FAILED {} after {:.1f} s", head, where, result.seconds);
    if (!result.reason.empty()) line += ": " + result.reason;
    return line;
  }

  std::string describe(const PortRow& row, const HostEvent& event, const std::string& stepBefore) const {
    const std::string head = fmt::format("phone {}", row.phone());
    // The end of the wait: the phone's port opened. Whether its BootROM
    // answered shows in what follows.
    if (event.code == kNotifyConnected) return head + " plugged in";
    if (event.code == kNotifyError) return fmt::format("{} {} in \"{}\"", head, event.text, stepBefore);
    if (row.state() == PortState::Resetting)
      return fmt::format("{} resetting: {} (the module waits while the phone restarts)", head, event.text);
    const RowFigures f = row.figures(ViewClock::now());
    const std::string figures = fmt::format("{:>3}% {:>5}", f.percent, formatBytes(f.bytes));
    if (event.code == kNotifyProgress) return fmt::format("{} {} step {}%", head, figures, event.value);
    return fmt::format("{} {} {}", head, figures, event.text);
  }

  void portLine(uint32_t comPort, const std::string& text) { write(comPort, text, false); }

  // One line of a port. `updating`: a line that the port's next updating line
  // rewrites in place, so it is left without its line end (padded to cover
  // the one it replaces); any other line ends it first. The log folder is
  // named with the run's first line: a run refused before it says anything
  // names no folder it does not keep.
  void write(uint32_t comPort, const std::string& text, bool updating) {
    std::string out;
    if (m_updatingPort) out.push_back(updating && *m_updatingPort == comPort ? '\r' : '\n');
    if (!m_folderNamed && m_setup.logs) out += fmt::format("{} logs in {}\n", timeStamp(), m_setup.logs->dir());
    m_folderNamed = true;
    std::string body = fmt::format("{} COM{:<3}  {}", timeStamp(), comPort, text);
    if (updating) {
      const size_t width = body.size();
      if (out == "\r" && m_updatingWidth > width) body.append(m_updatingWidth - width, ' ');
      m_updatingPort = comPort;
      m_updatingWidth = width;
    } else {
      body += "\n";
      m_updatingPort.reset();
    }
    out += body;
    std::fwrite(out.data(), 1, out.size(), m_setup.out);
    std::fflush(m_setup.out);
  }

  void endUpdatingLine() {
    if (!m_updatingPort) return;
    std::fputc('\n', m_setup.out);
    std::fflush(m_setup.out);
    m_updatingPort.reset();
  }

  StationSetup m_setup;
  std::atomic<bool> m_stopping{false};
  std::mutex m_mutex;
  std::map<uint32_t, PortRow> m_rows;
  std::map<uint32_t, std::string> m_lastEventLine;  // each port's last event line, without its time
  bool m_folderNamed = false;
  bool m_ended = false;
  std::optional<uint32_t> m_updatingPort;  // the port whose line is left open to be rewritten
  size_t m_updatingWidth = 0;
};

}  // namespace

std::unique_ptr<FlashReport> makeLineReport(StationSetup setup) { return std::make_unique<LineReport>(std::move(setup)); }

}  // namespace hxflash
