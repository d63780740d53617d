#include "station/event_printer.h"

#include <fmt/core.h>

namespace hxflash {

std::string eventText(const HostEvent& e) {
  switch (e.code) {
    case kNotifyProgress: return fmt::format("progress {}%", e.value);
    case kNotifyStatus: return fmt::format("status {:3}% {}", e.value, e.text);
    case kNotifyError: return e.text.empty() ? "error" : e.text;
    case kNotifyConnected: return "plugged in";
    default: return fmt::format("code {} value {} {}", e.code, e.value, e.text);
  }
}

}  // namespace hxflash
