#include "station/terminal_view.h"

#include <fmt/core.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "station/port_row.h"
#include "station/run_logs.h"
#include "station/station_summary.h"

namespace hxflash {
namespace {

// `text` in lines of at most `width` characters, broken at spaces where it
// can be: a notice is wrapped, never cut.
std::vector<std::string> wrapped(const std::string& text, size_t width) {
  std::vector<std::string> lines;
  std::string_view rest(text);
  if (width == 0) width = 1;
  while (rest.size() > width) {
    size_t cut = rest.rfind(' ', width);
    if (cut == std::string_view::npos || cut == 0) cut = width;
    lines.emplace_back(rest.substr(0, cut));
    rest.remove_prefix(cut);
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
  }
  lines.emplace_back(rest);
  return lines;
}

constexpr size_t kDefaultWidth = 80;
constexpr size_t kDefaultHeight = 24;
// Redraws at most this often; the clocks of the rows move once a second.
constexpr auto kFrameStep = std::chrono::milliseconds(100);
constexpr auto kClockStep = std::chrono::milliseconds(500);

constexpr const char* kEraseToEndOfLine = "\x1b[K";

class TerminalView final : public FlashReport {
 public:
  TerminalView(StationSetup setup, const std::vector<uint32_t>& comPorts) : m_setup(std::move(setup)) {
    for (uint32_t com : comPorts) m_rows.try_emplace(com, com, m_setup.plan);
    if (m_setup.logs) write(fmt::format("logs in {}\n", m_setup.logs->dir()));
    m_painter = std::thread([this] { paint(); });
  }

  ~TerminalView() override { stopPainting(); }

  void portNotice(uint32_t comPort, const std::string& text) override {
    change([&] { rowOf(comPort).notice(text); });
  }

  void stopping(const std::string& text) override {
    m_stopping.store(true);
    change([&] { m_status = text; });
  }

  void event(uint32_t comPort, int phone, const HostEvent& event) override {
    // A session that stops waiting reports the end of its wait (code 16) too.
    if (event.code == kNotifyConnected && m_stopping.load()) return;
    change([&] { rowOf(comPort).take(phone, event, ViewClock::now()); });
  }

  void phoneEnded(const PhoneResult& result) override {
    if (!result.connected) return;
    change([&] { rowOf(result.comPort).end(result, ViewClock::now()); });
  }

  // The rows as they end, then the summary under them.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end) override {
    stopPainting();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
    m_ended = true;
    draw();  // the status line keeps what Ctrl-C did
    writeSummary(m_setup.out, results, end, m_setup.logs);
  }

 private:
  PortRow& rowOf(uint32_t comPort) { return m_rows.try_emplace(comPort, comPort, m_setup.plan).first->second; }

  template <typename Change>
  void change(Change&& apply) {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      if (m_ended) return;
      apply();
      m_changed = true;
    }
    m_wake.notify_one();
  }

  void stopPainting() {
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_painting = false;
    }
    m_wake.notify_one();
    if (m_painter.joinable()) m_painter.join();
  }

  // Draws when something changed, and every so often for the clocks; never
  // more often than kFrameStep.
  void paint() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (m_painting) {
      m_wake.wait_for(lock, kClockStep, [this] { return m_changed || !m_painting; });
      if (!m_painting) break;
      draw();
      lock.unlock();
      std::this_thread::sleep_for(kFrameStep);
      lock.lock();
    }
  }

  winsize terminalSize() const {
    winsize size{};
    if (::ioctl(::fileno(m_setup.out), TIOCGWINSZ, &size) != 0) size = winsize{};
    if (size.ws_col == 0) size.ws_col = kDefaultWidth;
    if (size.ws_row == 0) size.ws_row = kDefaultHeight;
    return size;
  }

  // The header, the rows and the status line. A frame taller than the
  // terminal could not be redrawn in place: the rows that do not fit are
  // counted in the last one shown.
  std::vector<std::string> frame() const {
    const winsize size = terminalSize();
    const size_t columns = size.ws_col;
    const size_t fitting = size.ws_row > 3 ? size.ws_row - 3u : 1u;
    const auto now = ViewClock::now();
    std::vector<std::string> lines;
    lines.push_back(formatRowHeader(columns));
    for (const auto& [com, row] : m_rows) {
      if (lines.size() == fitting && m_rows.size() > fitting) {
        lines.push_back(fmt::format("... {} more ports: see their com<n>.log", m_rows.size() - fitting + 1)
                            .substr(0, columns - 1));
        break;
      }
      lines.push_back(formatRow(row, now, columns));
    }
    for (std::string& line : wrapped(m_status, columns - 1)) lines.push_back(std::move(line));
    return lines;
  }

  // Rewrites the lines that differ from those on the screen, in one write:
  // up to the top of the frame, then line by line down again.
  void draw() {
    m_changed = false;
    const std::vector<std::string> lines = frame();
    std::string out;
    if (!m_drawn.empty()) out += fmt::format("\x1b[{}A", m_drawn.size());
    bool any = m_drawn.empty();
    for (size_t i = 0; i < lines.size(); ++i) {
      if (i >= m_drawn.size() || m_drawn[i] != lines[i]) {
        out += "\r" + lines[i] + kEraseToEndOfLine;
        any = true;
      }
      out += "\n";
    }
    if (!any) return;
    m_drawn = lines;
    write(out);
  }

  void write(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), m_setup.out);
    std::fflush(m_setup.out);
  }

  StationSetup m_setup;
  std::atomic<bool> m_stopping{false};
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::map<uint32_t, PortRow> m_rows;
  std::string m_status;
  std::vector<std::string> m_drawn;  // the frame on the screen
  bool m_changed = true;
  bool m_painting = true;
  bool m_ended = false;
  std::thread m_painter;
};

}  // namespace

std::unique_ptr<FlashReport> makeTerminalView(StationSetup setup, const std::vector<uint32_t>& comPorts) {
  return std::make_unique<TerminalView>(std::move(setup), comPorts);
}

}  // namespace hxflash
