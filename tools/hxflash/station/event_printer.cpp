#include "station/event_printer.h"

#include <fmt/core.h>

#include <cstdio>

namespace hxflash {

void EventPrinter::print(uint32_t com, const HostEvent& e) {
  std::lock_guard<std::mutex> lock(m_mutex);
  int& lastQuarter = m_lastQuarter[com];
  switch (e.code) {
    case 1:
      if (m_verbose || e.value / 25 != lastQuarter) fmt::print("COM{:<3}  progress {:3}%\n", com, e.value);
      lastQuarter = e.value / 25;
      break;
    case 2:
      if (!m_verbose && isQuietCountdown(e.text)) break;
      fmt::print("COM{:<3}  [{:3}%] {}\n", com, e.value, e.text);
      lastQuarter = -1;
      break;
    case 3:
      fmt::print("COM{:<3}  {}\n", com, e.text);
      break;
    case 16:
      fmt::print("COM{:<3}  phone connected\n", com);
      break;
    default:
      fmt::print("COM{:<3}  code {} value {} {}\n", com, e.code, e.value, e.text);
  }
  std::fflush(stdout);
}

std::string eventText(const HostEvent& e) {
  switch (e.code) {
    case kNotifyProgress: return fmt::format("progress {}%", e.value);
    case kNotifyStatus: return fmt::format("status {:3}% {}", e.value, e.text);
    case kNotifyError: return e.text.empty() ? "error" : e.text;
    case kNotifyConnected: return "connected";
    default: return fmt::format("code {} value {} {}", e.code, e.value, e.text);
  }
}

// Of the reset countdown, only every 20th second and the last are shown.
bool EventPrinter::isQuietCountdown(const std::string& text) {
  int seconds = 0;
  if (std::sscanf(text.c_str(), "Waiting for Reset %d sec..", &seconds) != 1) return false;
  return seconds % 20 != 0 && seconds != 1;
}

}  // namespace hxflash
