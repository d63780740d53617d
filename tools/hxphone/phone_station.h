#pragma once
// One USB socket with phones coming and going: plugs a virtual phone in as
// `com<n>` (over a pseudo-terminal, or a USB gadget when told how), lets it talk until its power cycle ends, unplugs it, and after a
// watchdog reset does what the options say: the phone is taken away (gone),
// a fresh phone is plugged in after a delay (fresh), or the same phone
// reboots into its new firmware: its port appears briefly and goes (reboot).
#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>

#include "hxphone/phone_options.h"
#include "hxphone/plugged_port.h"
#include "hxphone/session_end.h"
#include "hxphone/virtual_phone.h"

namespace hxphone {

enum class AfterReset { Gone, Fresh, Reboot };

struct StationOptions {
  PhoneOptions phone;
  unsigned port = 41;
  std::string portsDir;                   // empty: portsDirectory()
  AfterReset afterReset = AfterReset::Gone;
  std::chrono::milliseconds plugDelay{0};      // before the first phone appears
  std::chrono::milliseconds replugDelay{500};
  // How long a phone stays after its last answer before it unplugs: after the
  // watchdog command it is resetting; after a refusal the host can still read
  // the refusal (a hang-up discards what the host has not read yet).
  std::chrono::milliseconds resetDelay{200};
  std::chrono::milliseconds refusalLinger{50};
  std::chrono::milliseconds rebootVisible{300};
  unsigned phones = 0;                    // fresh: how many phones in all (0: no limit)
  bool controllingTerminal = false;
  std::string dumpPath;                   // NAND dump after each phone ("" = none)
  std::string recordPath;                 // JSON record after each phone ("" = none)
  std::string turnsPath;                  // the link's turns after each phone ("" = none)
  std::function<NandModel()> initialNand; // empty: freshNand(phone)
  PlugIn plugIn;                          // empty: a pseudo-terminal (PtyPort)
  std::function<void(const std::string&)> announce;  // "plugged ..." / "unplugged ..." lines
};

class PhoneStation {
 public:
  explicit PhoneStation(StationOptions options);
  // Runs until the last phone is gone; returns the last phone's outcome.
  Outcome run();
  // Stops the current phone and ends run(); safe from any thread.
  void stop();

 private:
  Outcome runOnePhone(unsigned index);
  void rebootIntoFirmware(unsigned index);
  void saveOutputs(VirtualPhone& phone, unsigned index);
  bool pause(std::chrono::milliseconds d);
  std::unique_ptr<PluggedPort> plugIn(unsigned index);
  void announce(const std::string& what, const PluggedPort& port);

  StationOptions m_options;
  std::atomic<bool> m_stopping{false};
  std::mutex m_mutex;
  VirtualPhone* m_current = nullptr;
};

}  // namespace hxphone
