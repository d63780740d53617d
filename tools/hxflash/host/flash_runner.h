#pragma once
// Flashes phones on several COM ports at once through the module's exports,
// one session and one thread per port, as a phone-service station does.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "plugin/interface_template.h"

namespace hxflash {

// The codes a session reports to its host through Notify, as the module names them.
using ::kNotifyConnected;
using ::kNotifyError;
using ::kNotifyProgress;
using ::kNotifyStatus;
// The status text of the reset countdown that follows a successful write.
inline constexpr const char* kCountdownPrefix = "Waiting for Reset";

// One report the module sent to the host.
struct HostEvent {
  int code;
  int value;
  std::string text;
  bool operator==(const HostEvent&) const = default;
};

// Where a phone's turn stands.
enum class PhoneStage {
  Waiting,       // WaitAndConnect: for the port to go, come back and connect
  Transferring,  // Download is writing the phone
  Resetting,     // the write succeeded; the module counts down while the phone resets
  Done,          // Download returned, or the wait ended without a phone
};

struct PhoneResult {
  uint32_t comPort = 0;
  int phone = 0;           // 1 for the first phone flashed on this port
  PhoneStage stage = PhoneStage::Waiting;
  bool connected = false;  // WaitAndConnect ended by connecting, not by Abort
  bool succeeded = false;  // Download returned 1
  double seconds = 0;      // from the connection to the end of Download (or to now)
  // A failed download's result code and the module's sentence with its cause,
  // from the line that ended it (a module that hands its lines over).
  int code = 0;
  std::string reason;
  std::vector<HostEvent> events;  // everything reported during this phone's turn

  // The phone holds the package: Download succeeded, or it has begun the
  // reset countdown, which only follows a successful write.
  bool written() const { return succeeded || stage == PhoneStage::Resetting; }
};

// The step a phone's download was in when it failed: the text of the last
// status report before its error (no result code reaches the host).
std::string lastStep(const std::vector<HostEvent>& events);
// The step a failed phone's download was in, as people read it: lastStep,
// or kBeforeFirstStep when it failed before any (a phone whose BootROM never
// answered: the end of its wait says only that its port opened).
inline constexpr const char* kBeforeFirstStep = "before its first step";
std::string failedStep(const std::vector<HostEvent>& events);
// Of `events`, only those lastStep needs: the last status before the error,
// and the error.
std::vector<HostEvent> failedStepEvents(const std::vector<HostEvent>& events);

struct FlashOptions {
  std::string modulePath;
  std::string packagePath;
  std::vector<uint32_t> comPorts;  // COM40..COM255
  int phonesPerPort = 1;           // 0: the next phone whenever one comes, until abort()
  // Keep every report of a phone whose turn has ended; otherwise only those
  // that name its failed step, so that a station that runs for days does not
  // grow by a download's reports per phone.
  bool keepEndedPhonesEvents = true;
  double timeScale = 1.0;          // passed to SetTimeScale when not 1
  // Called for every report, from the port's thread, outside the run's lock;
  // may be empty.
  std::function<void(uint32_t comPort, int phone, const HostEvent&)> onEvent;
  // Called from the port's thread when its session begins to wait for phone
  // `phone`: the session is ready, and a phone plugged in before this moment
  // counts as present (it must go and come back). May be empty.
  std::function<void(uint32_t comPort, int phone)> onWaiting;
  // Called from the port's thread when a phone's turn has ended (Download
  // returned, or the wait ended without a phone), with its result. May be empty.
  std::function<void(const PhoneResult&)> onPhoneEnd;
  // Called for every line the module writes, with the COM number of the
  // session it is about (0: the module as a whole) and its code (nonzero on
  // the line that ends a failed download), from the thread that writes it;
  // calls never overlap and must not call into the run or the module. Empty:
  // the module writes its lines to standard output.
  std::function<void(unsigned comPort, int code, const std::string& line)> onModuleLine;
};

class FlashRun {
 public:
  explicit FlashRun(FlashOptions options);
  // Waits for every port's thread, then closes the sessions and the module.
  ~FlashRun();
  FlashRun(const FlashRun&) = delete;
  FlashRun& operator=(const FlashRun&) = delete;

  // Loads the module, creates one session per port and starts the ports'
  // threads. Throws std::runtime_error when the module cannot be loaded,
  // refuses the time scale or refuses a session.
  void start();
  // True once every port has flashed its phones or ended its wait; false
  // when `limit` passed first.
  bool waitFor(std::chrono::milliseconds limit);
  // start(), then waits for the end; every phone's result in port order.
  std::vector<PhoneResult> run();

  // Every phone's turn so far in port order, those still running as they stand.
  std::vector<PhoneResult> results() const;
  // Every port that still runs is counting down the reset of a phone it has
  // written: none waits for a phone or transfers to one.
  bool onlyResetsLeft() const;

  // Ends every session's wait for its phone and starts no further phone;
  // downloads that have started run to their end. From any thread.
  void abort();

 private:
  struct Port;
  class PortCallback;
  void flashPort(Port& port);
  // Opens the turn of phone `phone` (the first one's is open from the start);
  // false when the run has been stopped.
  bool beginPhone(Port& port, int phone);
  void noteEvent(Port& port, const HostEvent& event);
  // Ends the turn of the port's current phone: `succeeded` is Download's result.
  void endPhone(Port& port, bool succeeded);

  FlashOptions m_options;
  struct Module;
  static void moduleLine(void* run, unsigned comPort, int code, const char* line);
  // A line that ends a failed download: its code and sentence go to the port's phone.
  void noteFailureLine(unsigned comPort, int code, const char* line);
  // WaitAndConnect ended by connecting, and the phone will be flashed: its
  // connection is reported. A wait ended by abort() is never a connection.
  void noteConnected(Port& port);
  std::unique_ptr<Module> m_module;
  std::vector<std::unique_ptr<Port>> m_ports;
  std::vector<std::thread> m_threads;

  mutable std::mutex m_mutex;
  std::condition_variable m_portEnded;
  size_t m_portsRunning = 0;
  bool m_aborted = false;
};

}  // namespace hxflash
