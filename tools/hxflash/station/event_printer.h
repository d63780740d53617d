#pragma once
// Prints what the module reports to the host, one line per event.
#include <cstdint>
#include <map>
#include <mutex>
#include <string>

#include "host/flash_runner.h"

namespace hxflash {

// One report in words: "status  45% Send ROM Image", "progress 37%", "Error",
// "connected".
std::string eventText(const HostEvent& e);

// Prints what the module reports, one line per event; progress is shown at
// each quarter unless verbose.
class EventPrinter {
 public:
  explicit EventPrinter(bool verbose) : m_verbose(verbose) {}

  void print(uint32_t com, const HostEvent& e);

 private:
  static bool isQuietCountdown(const std::string& text);

  bool m_verbose;
  std::mutex m_mutex;
  std::map<uint32_t, int> m_lastQuarter;
};

}  // namespace hxflash
