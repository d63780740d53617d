#include "flash_report.h"

#include <fmt/core.h>
#include <unistd.h>

#include <mutex>
#include <nlohmann/json.hpp>
#include <stdexcept>

#include "exit_status.h"
#include "station_summary.h"

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

std::unique_ptr<FlashReport> makeJsonReport() { return std::make_unique<JsonReport>(); }

}  // namespace hxflash
