// hxflash.exe ports over a scripted system: each port the module's
// enumeration finds, with whether the module takes it for a phone's port.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "scripted_port_system.h"
#include "ports/port_enumeration.h"
#include "system/system_ports.h"

namespace {

using ::testing::HasSubstr;
using ::testing::Not;

hxtest::ScriptedDevice usbPort(const std::string& name, const std::string& portName) {
  return hxtest::ScriptedDevice{.description = name, .location = "USB Port 3", .portName = portName};
}

// The listing's line of one port.
std::string lineOf(const std::string& listing, const std::string& portName) {
  const size_t at = listing.find("  " + portName + " ");
  return at == std::string::npos ? std::string() : listing.substr(at, listing.find('\n', at) - at);
}

TEST(SystemPorts, TellsThePhonesPortFromAnAdapterAndANumberTheModuleDoesNotServe) {
  hxtest::ScriptedPortSystem system;
  system.serialPorts = {usbPort("ZVE Mobile USB Serial Port (COM44)", "COM44"),
                        usbPort("Generic USB Serial Adapter (COM3)", "COM3"),
                        usbPort("ZVE Mobile USB Serial Port (COM12)", "COM12")};
  const std::vector<hxflash::SystemPort> ports = hxflash::systemPorts(system);
  ASSERT_EQ(ports.size(), 3u);
  EXPECT_EQ(ports[0].comNumber, 3u);
  EXPECT_EQ(system.openCount(), 0);

  const std::string listing = hxflash::describeSystemPorts(ports);
  EXPECT_THAT(lineOf(listing, "COM44"), HasSubstr("a phone's port: flash it with --port 44"));
  EXPECT_THAT(lineOf(listing, "COM3"), HasSubstr("not a phone's port"));
  EXPECT_THAT(lineOf(listing, "COM12"), HasSubstr("Device Manager"));
  EXPECT_THAT(listing, Not(HasSubstr("no port the module takes")));
  // Listing a port never opens it: the session alone may.
  EXPECT_EQ(system.openTests(), 0);
}

TEST(SystemPorts, AnEmptyListIsSaidPlainlyAndAFailingSystemThrows) {
  hxtest::ScriptedPortSystem system;
  EXPECT_THAT(hxflash::describeSystemPorts(hxflash::systemPorts(system)), HasSubstr("the list is empty"));

  system.serialPorts = {usbPort("Generic USB Serial Adapter (COM3)", "COM3")};
  EXPECT_THAT(hxflash::describeSystemPorts(hxflash::systemPorts(system)), HasSubstr("no port the module takes"));

  system.failures["device set"] = 5;
  EXPECT_THROW(hxflash::systemPorts(system), hx::PortEnumerationError);
}

}  // namespace
