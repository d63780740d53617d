// On POSIX the run's own output goes to standard output, a live view when
// that is a terminal. A module that hands its lines over writes nothing
// there; the log of one that does not is taken from descriptor 1
// (module_log_capture.h), so that it never mixes with the view.
#include <fmt/core.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <stdexcept>

#include "station/module_log_capture.h"
#include "station/run_logs.h"
#include "station/station_output.h"
#include "station/terminal_view.h"

namespace hxflash {
namespace {

class PosixOutput final : public StationOutput {
 public:
  PosixOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan, const std::vector<uint32_t>& comPorts,
              bool moduleHandsOverLines)
      : StationOutput(logs) {
    // A terminal that cannot move its cursor (TERM=dumb) gets plain lines.
    const char* term = std::getenv("TERM");
    const bool capable = term == nullptr || std::string_view(term) != "dumb";
    const bool terminal = !choice.json && ::isatty(STDOUT_FILENO) == 1 && capable;
    // The JSON report takes standard output first: what is printed there
    // afterwards goes to standard error.
    if (choice.json) m_report = makeJsonReport(choice.verbose, &logs);
    if (!moduleHandsOverLines) {
      m_capture = std::make_unique<ModuleLogCapture>(
          [this](std::string_view line, uint64_t end) { unattributedModuleLine(line, end); });
    }
    if (choice.json) return;
    const int fd = ::fcntl(m_capture ? m_capture->keptOutput() : STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    m_out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!m_out) throw std::runtime_error("cannot keep standard output for the run's report");
    StationSetup setup;
    setup.verbose = choice.verbose;
    setup.out = m_out;
    setup.logs = &logs;
    setup.plan = std::move(plan);
    setup.loop = choice.loop;
    m_report = terminal ? makeTerminalView(std::move(setup), comPorts) : makeLineReport(std::move(setup));
  }

  ~PosixOutput() override {
    m_capture.reset();
    m_report.reset();
    if (m_out) std::fclose(m_out);
  }

  uint64_t logPosition() const override {
    return m_capture ? m_capture->position() : StationOutput::logPosition();
  }
  void finishLog() override {
    if (m_capture) m_capture->stop();
  }

 private:
  std::FILE* m_out = nullptr;
  std::unique_ptr<ModuleLogCapture> m_capture;
};

}  // namespace

std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>& comPorts, bool moduleHandsOverLines) {
  return std::make_unique<PosixOutput>(choice, logs, std::move(plan), comPorts, moduleHandsOverLines);
}

}  // namespace hxflash
