#include "station/flash_report.h"

#include <fmt/core.h>
#include <unistd.h>

#include <algorithm>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "station/exit_status.h"
#include "station/run_logs.h"
#include "station/station_summary.h"
#include "station/time_stamp.h"

namespace hxflash {
namespace {

using Json = nlohmann::ordered_json;

bool wasPresent(const RunEnd& end, uint32_t comPort) {
  return std::find(end.presentNotFlashed.begin(), end.presentNotFlashed.end(), comPort) != end.presentNotFlashed.end();
}

// A line of the JSON report: its type and time first.
Json jsonLine(const char* type) { return Json{{"type", type}, {"time", isoTimeStamp()}}; }

class JsonReport final : public FlashReport {
 public:
  JsonReport(bool verbose, const RunLogs* logs) : m_verbose(verbose), m_logs(logs) {
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    m_out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!m_out) throw std::runtime_error("cannot keep standard output for the JSON lines");
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~JsonReport() override { std::fclose(m_out); }

  void portNotice(uint32_t comPort, const std::string& text) override {
    Json line = jsonLine("notice");
    line["port"] = comPort;
    line["text"] = text;
    write(line);
  }

  void stopping(const std::string& text) override {
    Json line = jsonLine("notice");
    line["text"] = text;
    write(line);
  }

  void event(uint32_t comPort, int phone, const HostEvent& event) override {
    Json line = jsonLine("event");
    line.update(Json{{"port", comPort}, {"phone", phone}, {"code", event.code}, {"value", event.value},
                     {"text", event.text}});
    write(line);
  }

  void moduleLine(unsigned comPort, std::string_view text) override {
    if (!m_verbose) return;
    Json line = jsonLine("log");
    line["port"] = comPort;
    line["text"] = std::string(text);
    write(line);
  }

  // The summary is the last line, though a session that the run did not wait
  // for may still report.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const PhoneResult& r : results) {
      const PhoneOutcome outcome = outcomeOf(r);
      const bool ok = outcome == PhoneOutcome::Flashed || outcome == PhoneOutcome::FlashedResetNotAwaited;
      const std::string step = ok ? "" : outcome == PhoneOutcome::Failed ? failedStep(r.events) : lastStep(r.events);
      Json line = jsonLine("result");
      line.update(Json{{"port", r.comPort}, {"phone", r.phone}, {"ok", ok}, {"seconds", r.seconds},
                       {"step", step}, {"outcome", outcomeName(outcome)}});
      if (outcome == PhoneOutcome::Failed && r.code != 0) {
        line["code"] = r.code;
        line["reason"] = r.reason;
      }
      if (outcome == PhoneOutcome::NotFlashed && wasPresent(end, r.comPort)) line["present"] = true;
      writeLine(line);
    }
    const Tally t = tally(results);
    Json summary = jsonLine("summary");
    summary.update(Json{{"phones", results.size()}, {"flashed", t.flashed}, {"failed", t.failed},
                        {"notFlashed", t.notFlashed}, {"presentNotFlashed", end.presentNotFlashed},
                        {"interrupted", end.interrupted}, {"seconds", end.seconds}, {"exitStatus", end.exitStatus}});
    if (m_logs) summary["logs"] = m_logs->dir();
    writeLine(summary);
    m_ended = true;
  }

 private:
  void write(const Json& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ended) writeLine(line);
  }

  // One line in one write, so that the lines of the ports' threads never
  // tear. The log folder is named (on standard error) with the run's first
  // line: a run refused before it says anything names no folder it does not
  // keep. Called under the lock.
  void writeLine(const Json& line) {
    if (m_logs && !m_folderNamed) fmt::print(stderr, "hxflash flash: logs in {}\n", m_logs->dir());
    m_folderNamed = true;
    const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
  }

  bool m_verbose;
  const RunLogs* m_logs;
  bool m_folderNamed = false;
  FILE* m_out = nullptr;
  std::mutex m_mutex;
  bool m_ended = false;
};

}  // namespace

const char* outcomeName(PhoneOutcome outcome) {
  switch (outcome) {
    case PhoneOutcome::Flashed: return "flashed";
    case PhoneOutcome::FlashedResetNotAwaited: return "flashed-reset-not-awaited";
    case PhoneOutcome::Failed: return "failed";
    case PhoneOutcome::Interrupted: return "interrupted";
    case PhoneOutcome::NotFlashed: return "not-flashed";
  }
  return "";
}

PhoneOutcome outcomeOf(const PhoneResult& result) {
  switch (result.stage) {
    case PhoneStage::Waiting: return PhoneOutcome::NotFlashed;
    case PhoneStage::Transferring: return PhoneOutcome::Interrupted;
    case PhoneStage::Resetting: return PhoneOutcome::FlashedResetNotAwaited;
    case PhoneStage::Done: break;
  }
  if (result.succeeded) return PhoneOutcome::Flashed;
  return result.connected ? PhoneOutcome::Failed : PhoneOutcome::NotFlashed;
}

int exitStatusFor(const std::vector<PhoneResult>& results, bool interrupted, bool loop) {
  bool unflashed = !loop && results.empty();
  for (const PhoneResult& r : results) {
    switch (outcomeOf(r)) {
      case PhoneOutcome::Failed:
      case PhoneOutcome::Interrupted: return kExitPhoneFailed;
      case PhoneOutcome::NotFlashed: unflashed = true; break;
      case PhoneOutcome::Flashed:
      case PhoneOutcome::FlashedResetNotAwaited: break;
    }
  }
  // Station mode ends with Ctrl-C: a phone that never came is no failure.
  if (!unflashed || loop) return kExitOk;
  return interrupted ? kExitInterrupted : kExitPhoneFailed;
}

std::unique_ptr<FlashReport> makeJsonReport(bool verbose, const RunLogs* logs) {
  return std::make_unique<JsonReport>(verbose, logs);
}

std::string jsonRefusal(const std::string& reason) {
  Json line = jsonLine("refusal");
  line["reason"] = reason;
  return line.dump(-1, ' ', false, Json::error_handler_t::replace);
}

}  // namespace hxflash
