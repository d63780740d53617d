#include "station/run_logs.h"

#include <fmt/core.h>

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <string_view>

#include "system/command_line.h"
#include "host/crc32.h"
#include "station/event_printer.h"
#include "station/flash_report.h"
#include "station/time_stamp.h"

namespace hxflash {
namespace {

namespace fs = std::filesystem;

constexpr size_t kRecentEvents = 6;
constexpr size_t kRecentModuleLines = 4096;
constexpr size_t kMostTailLines = 40;
constexpr int kMostRunsInOneSecond = 100;

// Makes the folder `dir` if nothing is there by that name yet, in one step
// that fails when something is (mkdir), and on POSIX for this user only from
// the start: a folder in the shared temporary folder that others could enter
// for a moment could be given links in place of its logs. False when the
// name is taken.
bool makeNewFolder(const fs::path& dir) {
#if defined(_WIN32)
  std::error_code ec;
  if (fs::create_directory(dir, ec)) return true;
  if (!ec || ec == std::errc::file_exists) return false;
  throw std::runtime_error("cannot make the log folder " + dir.string() + ": " + ec.message());
#else
  if (::mkdir(dir.c_str(), 0700) == 0) return true;
  if (errno == EEXIST) return false;
  throw std::runtime_error("cannot make the log folder " + dir.string() + ": " + std::strerror(errno));
#endif
}

// A new folder in the system's temporary folder, named for the second the
// run began in its local time ("hxflash-2026-12-10T05-18-47"); a run that
// began in the same second as another takes the name with "-2", "-3", ...
std::string freshFolder() {
  const fs::path base = fs::temp_directory_path();
  std::string began = isoTimeStamp().substr(0, std::string_view("2026-12-10T05:18:47").size());
  std::replace(began.begin(), began.end(), ':', '-');  // a file name on every system
  const std::string name = "hxflash-" + began;
  for (int n = 1; n <= kMostRunsInOneSecond; ++n) {
    const fs::path dir = base / (n == 1 ? name : fmt::format("{}-{}", name, n));
    if (makeNewFolder(dir)) return dir.string();
  }
  throw std::runtime_error(fmt::format("cannot make a log folder in {}: {} and the next {} names are taken",
                                       base.string(), name, kMostRunsInOneSecond - 1));
}

std::string makeFolder(const std::string& dir) {
  if (dir.empty()) return freshFolder();
  std::error_code ec;
  fs::create_directories(dir, ec);
  if (!fs::is_directory(dir)) throw std::runtime_error("cannot make the log folder " + dir);
  return fs::absolute(dir).string();
}

// The module marks the progress of a transfer with dots.
bool isProgressDots(std::string_view text) { return text.find_first_not_of('.') == std::string_view::npos; }

}  // namespace

RunLogs::RunLogs(const std::string& dir) : m_dir(makeFolder(dir)), m_fresh(dir.empty()) {
  m_moduleLog.open(fs::path(m_dir) / "module.log", std::ios::out | std::ios::app);
  if (!m_moduleLog) throw std::runtime_error("cannot write " + (fs::path(m_dir) / "module.log").string());
}

void RunLogs::removeIfUnused() {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_fresh || m_used) return;
  m_moduleLog.close();
  m_ports.clear();
  std::error_code ec;
  fs::remove_all(m_dir, ec);
}

std::string RunLogs::portLogName(uint32_t comPort) { return fmt::format("com{}.log", comPort); }

RunLogs::Port& RunLogs::port(uint32_t comPort) {
  auto [it, added] = m_ports.try_emplace(comPort);
  if (added) {
    it->second.file.open(fs::path(m_dir) / portLogName(comPort), std::ios::out | std::ios::app);
    if (!m_header.empty()) it->second.file << m_header << '\n';
  }
  return it->second;
}

RunHeader runHeader(const std::string& package, const std::string& module) {
  RunHeader header{.version = HXFLASH_VERSION, .package = asTyped(package), .module = asTyped(module)};
  if (const std::optional<FileCrc> file = fileCrc32(package)) {
    header.packageSize = file->size;
    header.packageCrc32 = file->crc32;
  }
  return header;
}

void RunLogs::beginRun(const RunHeader& header) {
  std::string package = header.package;
  if (header.packageSize && header.packageCrc32)
    package += fmt::format(" ({} bytes, CRC-32 {:08X})", *header.packageSize, *header.packageCrc32);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_header = fmt::format("# {} hxflash {}: package {}, module {}", isoTimeStamp(), header.version, package,
                         header.module);
  m_moduleLog << m_header << '\n' << std::flush;
}

void RunLogs::phoneEnded(const PhoneResult& result) {
  const PhoneOutcome outcome = outcomeOf(result);
  std::string line = fmt::format("{} phone {} result {} {:.1f} s", isoTimeStamp(), result.phone, outcomeName(outcome),
                                 result.seconds);
  if (outcome == PhoneOutcome::Failed && result.code != 0) line += fmt::format(" code {} {}", result.code, result.reason);
  std::lock_guard<std::mutex> lock(m_mutex);
  port(result.comPort).file << line << '\n' << std::flush;
  m_used = true;
}

bool RunLogs::needsLogPosition(const HostEvent& event) { return event.code != kNotifyProgress; }

void RunLogs::portEvent(uint32_t comPort, int phone, const HostEvent& event, uint64_t logPosition) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Port& p = port(comPort);
  if (phone != p.phone) {
    p.recent.clear();
    p.lastProgress = -1;
  }
  p.phone = phone;
  m_used = true;
  const bool progress = event.code == kNotifyProgress;
  if (progress && event.value == p.lastProgress) return;
  const std::string line = fmt::format("{} phone {} {}", isoTimeStamp(), phone, eventText(event));
  if (progress) {
    p.lastProgress = event.value;
    p.file << line << '\n';
    return;  // the steps tell more
  }
  p.file << line << '\n' << std::flush;
  p.recent.push_back({line, logPosition, std::nullopt});
  if (p.recent.size() > kRecentEvents) p.recent.pop_front();
}

void RunLogs::moduleLine(std::optional<uint32_t> comPort, std::string_view text, uint64_t endPosition) {
  const std::string tag = comPort ? fmt::format("COM{}", *comPort) : "module";
  std::string line = fmt::format("{} {:<6} {}", isoTimeStamp(), tag, text);
  std::lock_guard<std::mutex> lock(m_mutex);
  m_moduleLog << line << '\n' << std::flush;
  m_used = true;
  if (isProgressDots(text)) return;  // nothing that explains a failure
  // A failure reported before the reader reached its lines takes them now.
  for (auto& [com, p] : m_ports) {
    if (p.failure && comPort == com && endPosition > p.failureFrom && endPosition <= p.failureTo &&
        p.failure->moduleLines.size() < kMostTailLines)
      p.failure->moduleLines.push_back(line);
  }
  m_moduleLines.push_back({std::move(line), endPosition, comPort});
  if (m_moduleLines.size() > kRecentModuleLines) m_moduleLines.pop_front();
}

void RunLogs::phoneFailed(uint32_t comPort, int phone, uint64_t logPosition) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Port& p = port(comPort);
  FailureTail tail;
  tail.phone = phone;
  if (p.phone == phone) {
    for (const Logged& e : p.recent) tail.events.push_back(e.line);
    p.failureFrom = p.recent.size() >= 2 ? p.recent[p.recent.size() - 2].position : 0;
    p.failureTo = logPosition;
  } else {
    p.failureFrom = p.failureTo = 0;
  }
  for (const Logged& l : m_moduleLines) {
    if (l.comPort == comPort && l.position > p.failureFrom && l.position <= p.failureTo &&
        tail.moduleLines.size() < kMostTailLines)
      tail.moduleLines.push_back(l.line);
  }
  p.failure = std::move(tail);
}

std::optional<FailureTail> RunLogs::failureTail(uint32_t comPort) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  const auto it = m_ports.find(comPort);
  if (it == m_ports.end()) return std::nullopt;
  return it->second.failure;
}

}  // namespace hxflash
