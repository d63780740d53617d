#include "flash_report.h"

#include <fmt/core.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "event_printer.h"
#include "exit_status.h"

namespace hxflash {
namespace {

using Json = nlohmann::ordered_json;

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

std::string describe(const PhoneResult& result) {
  switch (outcomeOf(result)) {
    case PhoneOutcome::Flashed: return "flashed";
    case PhoneOutcome::FlashedResetNotAwaited: return "flashed (reset not awaited)";
    case PhoneOutcome::Failed: {
      const std::string step = lastStep(result.events);
      return step.empty() ? "FAILED before its first step" : "FAILED in \"" + step + "\"";
    }
    case PhoneOutcome::Interrupted: return "INTERRUPTED: flash it again";
    case PhoneOutcome::NotFlashed: return "not flashed (no phone came)";
  }
  return "";
}

struct Tally {
  size_t flashed = 0;
  size_t failed = 0;
  size_t notFlashed = 0;  // interrupted, or never connected
};

Tally tally(const std::vector<PhoneResult>& results) {
  Tally t;
  for (const PhoneResult& r : results) {
    switch (outcomeOf(r)) {
      case PhoneOutcome::Flashed:
      case PhoneOutcome::FlashedResetNotAwaited: ++t.flashed; break;
      case PhoneOutcome::Failed: ++t.failed; break;
      case PhoneOutcome::Interrupted:
      case PhoneOutcome::NotFlashed: ++t.notFlashed; break;
    }
  }
  return t;
}

class HumanReport final : public FlashReport {
 public:
  explicit HumanReport(bool verbose) : m_printer(verbose) {}

  void portNotice(uint32_t comPort, const std::string& text) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended) return;
    fmt::print("COM{:<3}  {}\n", comPort, text);
    std::fflush(stdout);
  }

  void stopping(const std::string& text) override {
    m_stopping.store(true);
    fmt::print(stderr, "hxflash flash: {}\n", text);
  }

  void event(uint32_t comPort, int, const HostEvent& event) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    // A session that stops waiting reports "connected" too.
    if (m_ended || (event.code == kNotifyConnected && m_stopping.load())) return;
    m_printer.print(comPort, event);
  }

  // After the results nothing more is printed, though a session that the run
  // did not wait for may still report.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    fmt::print("\n{:<6} {:>5}  {:<40} {:>7}\n", "port", "phone", "result", "seconds");
    for (const PhoneResult& r : results)
      fmt::print("COM{:<3} {:>5}  {:<40} {:>7.1f}\n", r.comPort, r.phone, describe(r), r.seconds);
    const Tally t = tally(results);
    fmt::print("\n{} of {} phones flashed in {:.1f} s{}\n", t.flashed, results.size(), end.seconds,
               end.interrupted ? " (interrupted)" : "");
    std::fflush(stdout);
  }

 private:
  EventPrinter m_printer;
  std::atomic<bool> m_stopping{false};
  std::mutex m_mutex;
  bool m_ended = false;
};

class JsonReport final : public FlashReport {
 public:
  JsonReport() {
    std::fflush(stdout);
    const int fd = ::dup(STDOUT_FILENO);
    m_out = fd >= 0 ? ::fdopen(fd, "w") : nullptr;
    if (!m_out) throw std::runtime_error("cannot keep standard output for the JSON lines");
    ::dup2(STDERR_FILENO, STDOUT_FILENO);
  }
  ~JsonReport() override { std::fclose(m_out); }

  void portNotice(uint32_t comPort, const std::string& text) override {
    fmt::print(stderr, "COM{:<3}  {}\n", comPort, text);
  }

  void stopping(const std::string& text) override { fmt::print(stderr, "hxflash flash: {}\n", text); }

  void event(uint32_t comPort, int phone, const HostEvent& event) override {
    write(Json{{"type", "event"}, {"port", comPort}, {"phone", phone}, {"code", event.code},
               {"value", event.value}, {"text", event.text}});
  }

  // The summary is the last line, though a session that the run did not wait
  // for may still report.
  void end(const std::vector<PhoneResult>& results, const RunEnd& end) override {
    std::lock_guard<std::mutex> lock(m_mutex);
    for (const PhoneResult& r : results) {
      const PhoneOutcome outcome = outcomeOf(r);
      const bool ok = outcome == PhoneOutcome::Flashed || outcome == PhoneOutcome::FlashedResetNotAwaited;
      writeLine(Json{{"type", "result"}, {"port", r.comPort}, {"phone", r.phone}, {"ok", ok},
                 {"seconds", r.seconds}, {"step", ok ? "" : lastStep(r.events)}, {"outcome", outcomeName(outcome)}});
    }
    const Tally t = tally(results);
    writeLine(Json{{"type", "summary"}, {"phones", results.size()}, {"flashed", t.flashed}, {"failed", t.failed},
               {"notFlashed", t.notFlashed}, {"interrupted", end.interrupted}, {"seconds", end.seconds},
               {"exitStatus", end.exitStatus}});
    m_ended = true;
  }

 private:
  void write(const Json& line) {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!m_ended) writeLine(line);
  }

  // One line in one write, so that the lines of the ports' threads never
  // tear. Called under the lock.
  void writeLine(const Json& line) {
    const std::string text = line.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
    std::fwrite(text.data(), 1, text.size(), m_out);
    std::fflush(m_out);
  }

  FILE* m_out = nullptr;
  std::mutex m_mutex;
  bool m_ended = false;
};

}  // namespace

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

int exitStatusFor(const std::vector<PhoneResult>& results, bool interrupted) {
  if (interrupted) return kExitInterrupted;
  if (results.empty()) return kExitPhoneFailed;
  for (const PhoneResult& r : results) {
    if (outcomeOf(r) != PhoneOutcome::Flashed) return kExitPhoneFailed;
  }
  return kExitOk;
}

std::unique_ptr<FlashReport> makeHumanReport(bool verbose) { return std::make_unique<HumanReport>(verbose); }

std::unique_ptr<FlashReport> makeJsonReport() { return std::make_unique<JsonReport>(); }

}  // namespace hxflash
