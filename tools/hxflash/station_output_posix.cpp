// On POSIX the run takes descriptor 1 from the module (module_log_capture.h):
// the module's log goes to module.log, and the run's own output to what
// standard output was, a live view when that is a terminal.
#include <fmt/core.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <stdexcept>

#include "module_log_capture.h"
#include "run_logs.h"
#include "station_output.h"
#include "terminal_view.h"

namespace hxflash {
namespace {

class CapturedOutput final : public StationOutput {
 public:
  CapturedOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan, const std::vector<uint32_t>& comPorts,
                 PortAtWork portAtWork)
      : m_logs(logs), m_comPorts(comPorts), m_portAtWork(std::move(portAtWork)) {
    const bool terminal = !choice.json && ::isatty(STDOUT_FILENO) == 1;
    // The JSON report takes standard output first: what is printed there
    // afterwards, the module's log, then goes to standard error, and here
    // also to module.log.
    if (choice.json) {
      m_report = makeJsonReport();
      // Where the module's lines are echoed: standard output as the JSON
      // report left it. Taken before the log thread starts, which uses it.
      m_echo = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
      if (m_echo < 0) throw std::runtime_error("cannot keep standard error for the module's log");
    }
    m_capture = std::make_unique<ModuleLogCapture>(
        [this](std::string_view line, uint64_t end) { takeLine(line, end); });
    if (choice.json) {
      fmt::print(stderr, "hxflash flash: logs in {}\n", logs.dir());
      return;
    }
    const int fd = ::fcntl(m_capture->keptOutput(), F_DUPFD_CLOEXEC, 3);
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

  ~CapturedOutput() override {
    m_capture.reset();
    m_report.reset();
    if (m_out) std::fclose(m_out);
    if (m_echo >= 0) ::close(m_echo);
  }

  uint64_t logPosition() const override { return m_capture->position(); }
  void finishLog() override { m_capture->stop(); }

 private:
  void takeLine(std::string_view line, uint64_t end) {
    m_logs.moduleLine(portOfModuleLine(line, end, m_comPorts, m_portAtWork), line, end);
    if (m_echo < 0) return;
    const std::string text = std::string(line) + "\n";
    ssize_t written = 0;
    for (size_t done = 0; done < text.size(); done += static_cast<size_t>(written)) {
      written = ::write(m_echo, text.data() + done, text.size() - done);
      if (written <= 0) break;
    }
  }

  RunLogs& m_logs;
  std::vector<uint32_t> m_comPorts;
  PortAtWork m_portAtWork;
  int m_echo = -1;  // the module's lines are echoed here too (--json), when set
  std::FILE* m_out = nullptr;
  std::unique_ptr<ModuleLogCapture> m_capture;
};

}  // namespace

std::unique_ptr<StationOutput> openStationOutput(const OutputChoice& choice, RunLogs& logs, TransferPlan plan,
                                                 const std::vector<uint32_t>& comPorts,
                                                 PortAtWork portAtWork) {
  return std::make_unique<CapturedOutput>(choice, logs, std::move(plan), comPorts, std::move(portAtWork));
}

}  // namespace hxflash
