#pragma once
// Flashes phones on several COM ports at once through the module's exports,
// one session and one thread per port, as a phone-service station does.
#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace hxflash {

// One report the module sent to the host.
struct HostEvent {
  int code;
  int value;
  std::string text;
  bool operator==(const HostEvent&) const = default;
};

struct PhoneResult {
  uint32_t comPort = 0;
  int phone = 0;           // 1 for the first phone flashed on this port
  bool connected = false;  // WaitAndConnect ended by connecting, not by Abort
  bool succeeded = false;  // Download returned 1
  double seconds = 0;      // from the connection to the end of Download
  std::vector<HostEvent> events;  // everything reported during this phone's turn
};

struct FlashOptions {
  std::string modulePath;
  std::string packagePath;
  std::vector<uint32_t> comPorts;  // COM40..COM255
  int phonesPerPort = 1;
  double timeScale = 1.0;          // passed to SetTimeScale when not 1
  // Called for every report, from the port's thread; may be empty.
  std::function<void(uint32_t comPort, const HostEvent&)> onEvent;
};

class FlashRun {
 public:
  explicit FlashRun(FlashOptions options);

  // Runs until every port has flashed its phones or the run was aborted.
  // Throws std::runtime_error when the module cannot be loaded or refuses a
  // session.
  std::vector<PhoneResult> run();

  // Ends every session's wait for its phone (from any thread, signal-safe
  // flag); downloads that have started run to their end.
  void abort() { m_abort.store(true); }

 private:
  FlashOptions m_options;
  std::atomic<bool> m_abort{false};
};

}  // namespace hxflash
