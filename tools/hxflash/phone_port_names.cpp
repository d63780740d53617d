#include "phone_port_names.h"

#include <array>

namespace hxflash {
namespace {

// Names a phone's port begins with.
constexpr std::array<std::string_view, 6> kPhonePortPrefixes = {
    "ZVE CDMA USB Modem", "ZVE Mobile USB Modem", "ZVE Mobile USB Serial Port",
    "ZVE CDMA USB Serial Port", "FOMA L", "Qualcomm HS-USB Diag",
};

// A FOMA SA model shows several ports; only its OBEX port is the phone's.
constexpr std::string_view kFomaSaPrefix = "FOMA SA";
constexpr std::string_view kFomaSaPortMark = "OBEX";

}  // namespace

bool isPhonePortName(std::string_view name) {
  for (std::string_view prefix : kPhonePortPrefixes) {
    if (name.starts_with(prefix)) return true;
  }
  return name.starts_with(kFomaSaPrefix) && name.find(kFomaSaPortMark) != std::string_view::npos;
}

}  // namespace hxflash
