#include "history/station_history.h"

#include <fmt/core.h>

#include <algorithm>

#include "history/port_device.h"
#include "host/crc32.h"

namespace hxflash {
namespace {

// How long the end of a run waits for the server to take the last records.
constexpr auto kDrainAtEnd = std::chrono::seconds(3);

}  // namespace

PhoneRecord phoneRecord(const PhoneResult& result, const StationHistorySetup& setup, const std::string& logPath) {
  const auto now = std::chrono::system_clock::now();
  const PhoneOutcome outcome = outcomeOf(result);
  PhoneRecord r;
  r.id = newRecordId();
  r.station = setup.station;
  r.ended = isoTime(now);
  r.endedMs = epochMs(now);
  r.started = isoTime(now - std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                std::chrono::duration<double>(result.connected ? result.seconds : 0)));
  r.comPort = result.comPort;
  r.device = setup.device ? withUsbIdentity(setup.device(result.comPort)) : std::string();
  r.package = setup.package;
  r.outcome = outcome == PhoneOutcome::NotFlashed ? kPresentNotFlashed : outcomeName(outcome);
  if (outcome == PhoneOutcome::Failed || outcome == PhoneOutcome::Interrupted) r.failedStep = lastStep(result.events);
  if (outcome == PhoneOutcome::Failed) {
    r.code = result.code;
    r.reason = result.reason;
  }
  r.seconds = result.seconds;
  TransferTracker sent(setup.plan);
  for (const HostEvent& e : result.events) sent.take(e);
  r.bytesSent = sent.bytesDone();
  r.logPath = logPath;
  return r;
}

StationHistory::StationHistory(const HistoryPlaces& places, StationHistorySetup setup)
    : m_setup(std::move(setup)), m_local(std::make_unique<LocalHistory>(places.file, true)) {
  if (const std::optional<FileCrc> crc = fileCrc32(m_setup.package)) {
    m_packageSize = crc->size;
    m_packageCrc32 = crc->crc32;
  }
  if (!places.server.empty())
    m_sender = std::make_unique<OutboxSender>(*m_local, places.server, [](const std::string& notice) {
      fmt::print(stderr, "hxflash flash: history: {}\n", notice);
    });
}

StationHistory::~StationHistory() = default;

void StationHistory::phoneEnded(const PhoneResult& result, const RunLogs& logs, FlashReport& report) {
  const PhoneOutcome outcome = outcomeOf(result);
  // A wait that ended without a phone is no phone, unless one was there unflashed.
  if (outcome == PhoneOutcome::NotFlashed && !(m_setup.present && m_setup.present(result.comPort))) return;
  keep(result, logs, report);
}

void StationHistory::runEndsAtOnce(const std::vector<PhoneResult>& phones, const RunLogs& logs, FlashReport& report) {
  for (const PhoneResult& p : phones) {
    if (p.stage == PhoneStage::Done) continue;  // recorded when it ended
    const PhoneOutcome outcome = outcomeOf(p);
    if (outcome == PhoneOutcome::NotFlashed && !(m_setup.present && m_setup.present(p.comPort))) continue;
    keep(p, logs, report);
  }
}

void StationHistory::keep(const PhoneResult& result, const RunLogs& logs, FlashReport& report) {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    const std::pair<uint32_t, int> phone{result.comPort, result.phone};
    if (std::find(m_kept.begin(), m_kept.end(), phone) != m_kept.end()) return;
    m_kept.push_back(phone);
  }
  PhoneRecord record = phoneRecord(result, m_setup, logs.dir() + "/" + RunLogs::portLogName(result.comPort));
  record.packageSize = m_packageSize;
  record.packageCrc32 = m_packageCrc32;
  try {
    m_local->add(record, m_sender != nullptr);
  } catch (const HistoryRefused& e) {
    report.portNotice(result.comPort, fmt::format("this phone is not in the history: {}", e.what()));
    return;
  }
  if (m_sender) m_sender->wake();
}

void StationHistory::finish() {
  if (m_sender) m_sender->drain(kDrainAtEnd);
}

std::unique_ptr<PhoneKeeper> openPhoneKeeper(const HistoryOptions& options, StationHistorySetup setup) {
  const HistoryChoice choice = historyPlaces(options);
  if (choice.refusal) throw HistoryRefused(*choice.refusal);
  if (choice.places.file.empty()) return nullptr;
  setup.station = stationName(options);
  return std::make_unique<StationHistory>(choice.places, std::move(setup));
}

}  // namespace hxflash
