// The names that mark a port as a phone's: the module's table of name
// beginnings, exact and case-sensitive, and the FOMA SA rule.
#include "phone_port_names.h"

#include <gtest/gtest.h>

namespace {

struct NameCase {
  const char* name;
  bool phonePort;
};

const NameCase kNames[] = {
    {"ZVE CDMA USB Modem", true},
    {"ZVE Mobile USB Modem #2", true},
    {"ZVE Mobile USB Serial Port (COM7)", true},
    {"ZVE CDMA USB Serial Port", true},
    {"FOMA L705i", true},
    {"Qualcomm HS-USB Diag 9091", true},
    {"FOMA SA800i OBEX Port", true},
    {"FOMA SA800i Modem", false},
    {"Communications Port", false},
    {"zve mobile usb modem", false},
    {" ZVE Mobile USB Modem", false},
    {"ZVE Mobile USB", false},
    {"", false},
};

TEST(PhonePortNames, KeepOnlyNamesBeginningWithAPhonePortsName) {
  for (const NameCase& c : kNames) EXPECT_EQ(hxflash::isPhonePortName(c.name), c.phonePort) << '"' << c.name << '"';
}

}  // namespace
