// The station's view of real USB serial ports, as `hxflash ports` shows it
// inside the USB test machine: the sysfs attributes of a gadget's cdc-acm
// port, whether its name is a phone port's, the stable name udev gives its
// socket, the tty-driver check of the ports directory's entries, and the udev
// rule on the real device.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "ports_dir.h"
#include "usb_gadget.h"

namespace {

namespace fs = std::filesystem;
using usbtest::runProgram;
using usbtest::udevSettle;

constexpr const char* kRulesFolder = "/run/udev/rules.d";

// The lines `hxflash ports` prints for one device: its own and the indented
// ones under it.
std::string deviceBlock(const std::string& listing, const std::string& tty) {
  std::istringstream lines(listing);
  std::string block;
  bool inside = false;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("  /dev/", 0) == 0) inside = line.rfind("  " + tty + "  ", 0) == 0;
    else if (line.rfind("    ", 0) != 0) inside = false;
    if (inside) block += line + "\n";
  }
  return block;
}

std::string socketName(int socket) {
  return "/dev/serial/by-path/platform-dummy_hcd." + std::to_string(socket) + "-usb-0:1:1.0";
}

class PortsOnUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = usbtest::whyNoGadgets();
    if (!why.empty()) GTEST_SKIP() << why;
    controllers = usbtest::deviceControllers();
    ASSERT_GE(controllers.size(), 2u);
    ASSERT_TRUE(fs::exists("/run/udev/control")) << "udev is not running (usb-vm.sh --udev)";
  }

  usbtest::ProgramOutput hxflashPorts() const { return runProgram(std::string(HXFLASH_PATH) + " ports"); }

  std::vector<std::string> controllers;
};

TEST_F(PortsOnUsb, AGadgetIsAPhonesPortByItsProductNameAndListedByItsSocketsStableName) {
  usbtest::UsbGadget phone("ports-phone");
  usbtest::UsbGadget modem("ports-modem", {.product = "Example Data Modem", .manufacturer = "Example Maker"});
  phone.plug(controllers[0]);
  modem.plug(controllers[1]);
  const std::string phoneTty = phone.waitStationTty();
  const std::string modemTty = modem.waitStationTty();
  ASSERT_FALSE(phoneTty.empty());
  ASSERT_FALSE(modemTty.empty());
  udevSettle();
  hxtest::PortsDir ports;

  const usbtest::ProgramOutput listing = hxflashPorts();
  const std::string phoneBlock = deviceBlock(listing.text, phoneTty);
  const std::string modemBlock = deviceBlock(listing.text, modemTty);
  EXPECT_NE(phoneBlock.find("USB f055:0001 \"ZVE Mobile USB Serial Port\" by \"Example Maker\", serial \"ports-phone\""),
            std::string::npos) << listing.text;
  EXPECT_NE(phoneBlock.find("driver cdc_acm"), std::string::npos) << phoneBlock;
  EXPECT_NE(phoneBlock.find("by-path  " + socketName(0)), std::string::npos) << phoneBlock;
  EXPECT_NE(phoneBlock.find("phone    yes"), std::string::npos) << phoneBlock;
  EXPECT_NE(modemBlock.find("\"Example Data Modem\""), std::string::npos) << listing.text;
  EXPECT_NE(modemBlock.find("phone    no"), std::string::npos) << modemBlock;
  // The --port arguments it suggests name the phone's socket, and only it.
  const size_t arguments = listing.text.find(" --port 41=");
  ASSERT_NE(arguments, std::string::npos) << listing.text;
  const std::string argumentLine = listing.text.substr(arguments, listing.text.find('\n', arguments) - arguments);
  EXPECT_EQ(argumentLine, " --port 41=" + socketName(0)) << listing.text;
}

TEST_F(PortsOnUsb, EntriesLeadingToAUsbSerialPortAreTakenAndOneLeadingToNoSerialPortIsRefused) {
  usbtest::UsbGadget phone("entries-phone");
  phone.plug(controllers[0]);
  const std::string tty = phone.waitStationTty();
  ASSERT_FALSE(tty.empty());
  udevSettle();
  hxtest::PortsDir ports;
  ports.plug(41, tty);
  ports.plug(42, socketName(0));
  ports.plug(43, "/dev/null");

  const usbtest::ProgramOutput listing = hxflashPorts();
  EXPECT_EQ(listing.status, 1) << listing.text;
  EXPECT_TRUE(std::regex_search(listing.text, std::regex("COM41 +-> " + tty + " +ready"))) << listing.text;
  EXPECT_TRUE(std::regex_search(listing.text, std::regex("COM42 +-> " + socketName(0) + " +ready"))) << listing.text;
  EXPECT_NE(listing.text.find("COM43: /dev/null is a character device but no serial port"), std::string::npos)
      << listing.text;
}

// The project's rule with the placeholder ids, as a station installs it.
void installRule() {
  std::ifstream in(HXFLASH_UDEV_RULE);
  std::stringstream text;
  text << in.rdbuf();
  std::string rule = std::regex_replace(text.str(), std::regex("VVVV"), "f055");
  rule = std::regex_replace(rule, std::regex("PPPP"), "0001");
  fs::create_directories(kRulesFolder);
  std::ofstream(std::string(kRulesFolder) + "/70-hxflash.rules") << rule;
}

TEST_F(PortsOnUsb, TheUdevRuleKeepsModemManagerAwayAndGivesTheSeatThePhonesPort) {
  struct Case {
    bool rule;
    bool ignoredByModemManager;
    bool seatTag;
  };
  for (const Case& c : {Case{true, true, true}, Case{false, false, false}}) {
    SCOPED_TRACE(c.rule ? "with the rule" : "without the rule");
    if (c.rule) installRule();
    else fs::remove(std::string(kRulesFolder) + "/70-hxflash.rules");
    ASSERT_EQ(runProgram("udevadm control --reload").status, 0);
    usbtest::UsbGadget phone(c.rule ? "rule-on" : "rule-off");
    phone.plug(controllers[0]);
    const std::string tty = phone.waitStationTty();
    ASSERT_FALSE(tty.empty());
    udevSettle();

    const std::string properties = runProgram("udevadm info --query=property --name=" + tty).text;
    EXPECT_EQ(properties.find("ID_MM_DEVICE_IGNORE=1") != std::string::npos, c.ignoredByModemManager) << properties;
    EXPECT_EQ(std::regex_search(properties, std::regex("\nTAGS=[^\n]*:uaccess:")), c.seatTag) << properties;
    const std::string block = deviceBlock(hxflashPorts().text, tty);
    EXPECT_NE(block.find(c.ignoredByModemManager ? "ModemManager leaves it alone" : "ModemManager may probe it"),
              std::string::npos) << block;
  }
  fs::remove(std::string(kRulesFolder) + "/70-hxflash.rules");
  runProgram("udevadm control --reload");
}

}  // namespace
