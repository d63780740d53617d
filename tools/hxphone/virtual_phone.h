#pragma once
// A virtual HX9120 phone: BootROM, download agent and NAND behind one file
// descriptor, running on its own thread. One run is one power cycle: it
// ends when the host re-enables the watchdog (the phone resets), when a
// fault unplugs it, when the host sends something it does not accept
// (logged with what was expected and what came), when the host goes away,
// or when its owner stops it. The owner keeps the descriptor and closes it
// afterwards (which is what the host sees as the phone unplugging).
#include <atomic>
#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <thread>

#include <nlohmann/json.hpp>

#include "hxphone/link_turns.h"
#include "hxphone/nand_model.h"
#include "hxphone/phone_log.h"
#include "hxphone/phone_options.h"
#include "hxphone/phone_record.h"
#include "hxphone/session_end.h"
#include "hxphone/stop_signal.h"

namespace hxphone {

class PhonePort;

class VirtualPhone {
 public:
  // The phone starts from `nand` (see freshNand and the preload states).
  VirtualPhone(PhoneOptions options, NandModel nand);
  ~VirtualPhone();
  VirtualPhone(const VirtualPhone&) = delete;
  VirtualPhone& operator=(const VirtualPhone&) = delete;

  // Runs one power cycle over fd on the calling thread.
  Outcome run(int fd);
  // Runs it on the phone's own thread.
  void start(int fd);
  // Asks a running phone to stop; safe from any thread.
  void stop();
  // Waits for the phone's thread to end and returns the outcome.
  Outcome wait();

  // Valid once the run has ended.
  Outcome outcome() const { return m_outcome.load(); }
  std::string failure() const;
  const NandModel& nand() const { return m_nand; }
  NandModel& nand() { return m_nand; }
  nlohmann::json record() const { return m_record.toJson(); }
  // The link's exchange turn by turn, when the options ask for it.
  const LinkTurns& turns() const { return m_turns; }
  PhoneLog& log() { return m_log; }
  // When a fault that strikes at a step (unplug-at, silent-at, status-at)
  // struck; nothing when none did.
  std::optional<std::chrono::steady_clock::time_point> faultStruck() const;

 private:
  SessionEnd converse(int fd);
  static void stayUntilTheHostGoes(PhonePort& port);

  PhoneOptions m_options;
  NandModel m_nand;
  PhoneLog m_log;
  PhoneRecord m_record;
  LinkTurns m_turns;
  StopSignal m_stop;
  std::thread m_thread;
  std::atomic<Outcome> m_outcome{Outcome::Stopped};
  std::string m_failure;
  std::atomic<std::chrono::steady_clock::rep> m_faultStruck{0};
};

}  // namespace hxphone
