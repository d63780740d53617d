#pragma once
// The run's log folder: `module.log` holds the module's own log lines, each
// with a time stamp and the port it is about (`module` for the module as a
// whole, or a module that cannot say); `com<n>.log` holds every report of
// port n's sessions. It also keeps, for a port whose phone failed, what
// explains the failure: the phone's last reports and the port's own module
// lines logged from the last but one of them on.
#include <cstdint>
#include <deque>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "host/flash_runner.h"

namespace hxflash {

// What a failed phone left: its last reports (but progress) and the port's
// own module lines logged from the last-but-one of them to the end of its turn.
// What a run's logs begin with.
struct RunHeader {
  std::string version;  // hxflash's
  std::string package;  // its path
  std::optional<uint64_t> packageSize;
  std::optional<uint32_t> packageCrc32;
  std::string module;   // its path
};

// The header of a run flashing `package` through `module`: hxflash's
// version, and the package's size and CRC-32 (read here).
RunHeader runHeader(const std::string& package, const std::string& module);

struct FailureTail {
  int phone = 0;
  std::vector<std::string> events;
  std::vector<std::string> moduleLines;
};

class RunLogs {
 public:
  // Uses folder `dir`, made if need be; an empty `dir`: a new folder in the
  // system's temporary folder, named for the second the run began
  // ("hxflash-2026-12-10T05-18-47", "-2" added for a second run in that
  // second). Throws std::runtime_error when it cannot be made.
  explicit RunLogs(const std::string& dir);
  RunLogs(const RunLogs&) = delete;
  RunLogs& operator=(const RunLogs&) = delete;

  const std::string& dir() const { return m_dir; }
  // Removes a fresh folder that nothing was written to (the run could not
  // start); a folder named by the user stays.
  void removeIfUnused();
  // Begins this run's part of every log (a folder may hold several runs'):
  // a header line in module.log now, and in each port's log when it opens.
  void beginRun(const RunHeader& header);
  // A phone's turn has ended: its result, its time and, when it failed, the
  // code and the module's reason, as one line of its port's log.
  void phoneEnded(const PhoneResult& result);
  static std::string portLogName(uint32_t comPort);

  // A report of a session. `logPosition`: how far the module's log had come
  // when it was made (0 when the log is not kept; progress reports need none).
  // A progress report is written only when its percentage has moved, and
  // without flushing the file: a session sends one per chunk, from its own
  // thread, between two transfers to the phone.
  void portEvent(uint32_t comPort, int phone, const HostEvent& event, uint64_t logPosition);
  // Whether portEvent uses the log position of `event`.
  static bool needsLogPosition(const HostEvent& event);
  // A line of the module's log that ends at `endPosition` of its stream;
  // `comPort`: the port it is about, none for the module as a whole.
  void moduleLine(std::optional<uint32_t> comPort, std::string_view text, uint64_t endPosition);
  // Phone `phone` of the port failed; the module's log had come to
  // `logPosition` when its turn ended. Keeps its tail: its last reports and
  // the module lines from its last-but-one report to the end of its turn.
  void phoneFailed(uint32_t comPort, int phone, uint64_t logPosition);
  // The tail of the port's last failed phone, if one failed.
  std::optional<FailureTail> failureTail(uint32_t comPort) const;

 private:
  struct Logged {
    std::string line;
    uint64_t position;
    std::optional<uint32_t> comPort;  // module lines: the port they are about
  };
  struct Port {
    std::ofstream file;
    int phone = 0;
    int lastProgress = -1;      // the current phone's last progress percentage written
    std::deque<Logged> recent;  // the current phone's last reports but progress
    std::optional<FailureTail> failure;
    uint64_t failureFrom = 0;   // module lines ending in (from, to] explain it
    uint64_t failureTo = 0;
  };
  Port& port(uint32_t comPort);

  std::string m_dir;
  std::string m_header;  // the header line of this run's part of each log
  bool m_fresh = false;  // made for this run
  bool m_used = false;   // a line was written
  mutable std::mutex m_mutex;
  std::ofstream m_moduleLog;
  std::map<uint32_t, Port> m_ports;
  std::deque<Logged> m_moduleLines;  // the latest, for failures reported after their lines
};

}  // namespace hxflash
