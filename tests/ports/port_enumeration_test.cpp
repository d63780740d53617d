// The enumeration of phone ports over a scripted system: the name filter,
// the three methods by Windows version, the post-processing, and every
// failure with its text and nothing left open.
#include "ports/port_enumeration.h"

#include <gtest/gtest.h>

#include <ostream>

#include "scripted_port_system.h"

namespace hx {
void PrintTo(const SSerInfo& r, std::ostream* os) {
  *os << "{" << r.devicePath << ", " << r.portName << ", \"" << r.friendlyName << "\", usb " << r.isUsb << ", \""
      << r.description << "\", " << static_cast<int>(r.portNumber) << "}";
}
}  // namespace hx

namespace {

using hx::SSerInfo;
using hxtest::ScriptedDevice;
using hxtest::ScriptedPortSystem;

std::vector<SSerInfo> records(const hx::SerInfoList& list) { return {list.begin(), list.end()}; }

// The phone ports of `system`; every key and device set is closed afterwards.
std::vector<SSerInfo> enumerate(ScriptedPortSystem& system, int ignoreBusy = 0, int useModemClass = 0) {
  hx::SerInfoList list;
  hx::EnumerateSerialPorts(system, list, ignoreBusy, useModemClass, 1);
  EXPECT_EQ(system.openCount(), 0);
  EXPECT_EQ(system.badCloses(), 0);
  return records(list);
}

ScriptedDevice device(const std::string& description, const std::string& portName, const std::string& location = "") {
  return {.description = description, .location = location, .portName = portName};
}

TEST(PhonePortName, KeepsTheSevenRowsAndNothingNearThem) {
  const struct {
    const char* name;
    bool kept;
  } cases[] = {
      {"ZVE CDMA USB Modem", true},
      {"ZVE CDMA USB Modem #2", true},
      {"ZVE Mobile USB Modem", true},
      {"ZVE Mobile USB Serial Port (COM7)", true},
      {"ZVE CDMA USB Serial Port", true},
      {"FOMA L", true},
      {"FOMA L706ie", true},
      {"Qualcomm HS-USB Diag 9002", true},
      {"FOMA SA OBEX", true},
      {"FOMA SA800i USB OBEX Port", true},
      {"", false},
      {"Communications Port (COM1)", false},
      {" ZVE CDMA USB Modem", false},
      {"zve cdma usb modem", false},
      {"ZVE CDMA USB Mode", false},
      {"ZVE Mobile USB Serial", false},
      {"ZVE CDMA USB Serial port", false},
      {"FOMA", false},
      {"FOMA l", false},
      {"Qualcomm HS-USB Dia", false},
      {"FOMA SA", false},
      {"FOMA SA800i Modem", false},
      {"FOMA SA800i obex", false},
      {"OBEX FOMA SA", false},
      {"My FOMA SA OBEX", false},
      {"USB Serial Port ZVE CDMA USB Modem", false},
  };
  for (const auto& c : cases) EXPECT_EQ(hx::isPhonePortName(c.name), c.kept) << '"' << c.name << '"';
}

TEST(EnumerateSerialPorts, DeviceInterfacesGiveARecordPerDescribedPhonePort) {
  ScriptedPortSystem system;
  system.serialPorts = {
      device("ZVE Mobile USB Serial Port", "COM7", "USB\\VID_F055&PID_0001"),
      device("Communications Port", "COM1", "USB\\ACPI"),  // not a phone's name
      device("ZVE Mobile USB Modem #2", "COM255", "Port_#0001.Hub_#0004"),
      device("FOMA L", "COM1234"),  // "portname" larger than its buffer
      {.description = std::nullopt, .location = "USB", .portName = "COM9"},
      {.description = "FOMA L", .objectName = std::nullopt, .location = "USB", .portName = "COM10"},
      {.description = "Qualcomm HS-USB Diag", .location = std::nullopt, .portName = std::nullopt},
  };
  system.modems = {device("ZVE CDMA USB Modem", "COM3", "USB")};
  EXPECT_EQ(enumerate(system), (std::vector<SSerInfo>{
                                   {.devicePath = "\\\\.\\COM7",
                                    .portName = "COM7",
                                    .friendlyName = "ZVE Mobile USB Serial Port",
                                    .isUsb = 1,
                                    .description = "ZVE Mobile USB Serial Port",
                                    .portNumber = 7},
                                   {.devicePath = "\\\\.\\COM255",
                                    .portName = "COM255",
                                    .friendlyName = "ZVE Mobile USB Modem #2",
                                    .isUsb = 0,
                                    .description = "ZVE Mobile USB Modem",
                                    .portNumber = 255},
                                   {.devicePath = "\\\\.\\",
                                    .portName = "",
                                    .friendlyName = "FOMA L",
                                    .isUsb = 0,
                                    .description = "FOMA L",
                                    .portNumber = 0},
                                   {.devicePath = "\\\\.\\",
                                    .portName = "",
                                    .friendlyName = "Qualcomm HS-USB Diag",
                                    .isUsb = 0,
                                    .description = "Qualcomm HS-USB Diag",
                                    .portNumber = 0},
                               }));
  EXPECT_EQ(enumerate(system, 0, 1), (std::vector<SSerInfo>{{.devicePath = "\\\\.\\COM3",
                                                             .portName = "COM3",
                                                             .friendlyName = "ZVE CDMA USB Modem",
                                                             .isUsb = 1,
                                                             .description = "ZVE CDMA USB Modem",
                                                             .portNumber = 3}}));
}

TEST(EnumerateSerialPorts, DescriptionIsTheFriendlyNameBeforeItsFirstSpaceHash) {
  const struct {
    const char* friendlyName;
    const char* description;
  } cases[] = {
      {"ZVE CDMA USB Modem #2", "ZVE CDMA USB Modem"},
      {"ZVE CDMA USB Modem #2 #3", "ZVE CDMA USB Modem"},
      {"ZVE CDMA USB Modem#2", "ZVE CDMA USB Modem#2"},
      {"FOMA L #", "FOMA L"},
      {"FOMA SA #1 OBEX", "FOMA SA"},
  };
  for (const auto& c : cases) {
    ScriptedPortSystem system;
    system.serialPorts = {device(c.friendlyName, "COM5")};
    const auto got = enumerate(system);
    ASSERT_EQ(got.size(), 1u) << c.friendlyName;
    EXPECT_EQ(got[0].description, c.description);
  }
}

TEST(EnumerateSerialPorts, IgnoreBusyDropsAPortThatDoesNotOpen) {
  ScriptedPortSystem system;
  system.serialPorts = {device("FOMA L", "COM4"), device("FOMA L", "COM5")};
  system.busy = {"\\\\.\\COM4"};
  EXPECT_EQ(enumerate(system).size(), 2u);
  const auto free = enumerate(system, 1);
  ASSERT_EQ(free.size(), 1u);
  EXPECT_EQ(free[0].portName, "COM5");
}

TEST(EnumerateSerialPorts, AppendsToTheListUnlessToldToClearIt) {
  ScriptedPortSystem system;
  system.serialPorts = {device("FOMA L", "COM4")};
  const SSerInfo earlier{.devicePath = "\\\\.\\COM2",
                         .portName = "COM2",
                         .friendlyName = "FOMA L",
                         .isUsb = 0,
                         .description = "FOMA L",
                         .portNumber = 2};
  const SSerInfo other{.devicePath = "\\\\.\\COM1",
                       .portName = "COM1",
                       .friendlyName = "Communications Port",
                       .isUsb = 0,
                       .description = "",
                       .portNumber = 1};
  hx::SerInfoList list;
  list.Add(earlier);
  list.Add(other);  // every record is filtered, those it held too
  hx::EnumerateSerialPorts(system, list, 0, 0, 0);
  ASSERT_EQ(list.GetSize(), 2u);
  EXPECT_EQ(list[0], earlier);
  EXPECT_EQ(list[1].portName, "COM4");
  hx::EnumerateSerialPorts(system, list, 0, 0, 1);
  ASSERT_EQ(list.GetSize(), 1u);
  EXPECT_EQ(list[0].portName, "COM4");
}

TEST(EnumerateSerialPorts, Nt4ListsPortsOneTo256WithoutNamesSoNoneStays) {
  ScriptedPortSystem system;
  system.windowsVersion = {4, 0, hx::kPlatformNt};
  system.serialPorts = {device("FOMA L", "COM4")};  // not asked for on NT 4
  hx::SerInfoList raw;
  hx::collectSerialPorts(system, raw, false);
  ASSERT_EQ(raw.GetSize(), 256u);
  EXPECT_EQ(raw[0], (SSerInfo{.devicePath = "\\\\.\\COM1",
                              .portName = "COM1",
                              .friendlyName = "",
                              .isUsb = 0,
                              .description = "",
                              .portNumber = 0}));
  EXPECT_EQ(raw[255], (SSerInfo{.devicePath = "\\\\.\\COM256",
                                .portName = "COM256",
                                .friendlyName = "",
                                .isUsb = 0,
                                .description = "",
                                .portNumber = 0}));
  EXPECT_TRUE(enumerate(system, 1).empty());
  EXPECT_EQ(system.openTests(), 0);  // filtered before any open test
}

// Windows 98: HKLM\Enum\<class>\<device>\<instance>.
void windows98(ScriptedPortSystem& system) {
  system.windowsVersion = {4, 10, 1};
  auto& e = system.localMachine.at("Enum");
  e.at("ROOT\\*PNP0501\\0000").set("PORTNAME", "COM1").set("FRIENDLYNAME", "Communications Port (COM1)");
  e.at("ROOT\\*PNP0501\\0001").set("PORTNAME", "COM5").set("FRIENDLYNAME", "").set("DeviceDesc", "ZVE CDMA USB Modem");
  e.at("ROOT\\*PNP0501\\0002").set("PORTNAME", "COM300").set("FRIENDLYNAME", "FOMA L");
  e.at("ROOT\\*PNP0500\\0000").set("PORTNAME", "COM3").set("FRIENDLYNAME", "ZVE CDMA USB Modem #1");
  e.at("ROOT\\*PNP0500\\0001").set("FRIENDLYNAME", "FOMA L");  // no PORTNAME
  e.at("ROOT\\OTHER\\0000").set("PORTNAME", "COM6").set("FRIENDLYNAME", "FOMA L");
  e.at("USBPORTS\\ANY\\0000").set("PORTNAME", "COM8").set("FRIENDLYNAME", "ZVE Mobile USB Serial Port");
  e.at("ZVATCR\\MODEM\\0000").set("PORTNAME", "COM3").set("FRIENDLYNAME", "FOMA L");  // replaces COM3
  e.at("T900CR\\PORT\\0000")
      .set("PORTNAME", "COM10")
      .set("FRIENDLYNAME", "FOMA SA OBEX")
      .set("CRUpperDeviceId", "USB\\VID_1\\A");
  e.at("T900CR\\PORT\\0001")
      .set("PORTNAME", "COM11")
      .set("FRIENDLYNAME", "FOMA L")
      .set("CRUpperDeviceId", "USB\\VID_1\\GONE");
  e.at("T900CR\\PORT\\0002").set("PORTNAME", "COM12").set("FRIENDLYNAME", "FOMA L");  // no CRUpperDeviceId
  e.at("T52XCR\\PORT\\0000")
      .set("PORTNAME", "COM13")
      .set("FRIENDLYNAME", "")
      .set("DeviceDesc", "FOMA L")
      .set("CRUpperDeviceId", "USB\\VID_1\\A");  // no DeviceDesc fallback when guarded
  e.at("T52XCR\\PORT\\0001")
      .set("PORTNAME", "COM14")
      .set("FRIENDLYNAME", "Qualcomm HS-USB Diag")
      .set("CRUpperDeviceId", "usb\\vid_1\\b");
  e.at("USB\\ZVMODEM\\0000").set("PORTNAME", "COM15").set("FRIENDLYNAME", "ZVE Mobile USB Modem");
  e.at("USB\\VID_0403&PID_6001\\0000").set("DeviceDesc", "ZVE Mobile USB Serial Port");
  e.at("USB\\VID_0403&PID_6001\\0001").set("PORTNAME", "COM16");  // no DeviceDesc
  e.at("USB\\VID_0403&PID_5001\\0000").set("DeviceDesc", "ZVE Mobile USB Serial Port");
  e.at("USB\\OTHER\\0000").set("PORTNAME", "COM17").set("FRIENDLYNAME", "FOMA L");
  auto& devices = system.dynData.at("Config Manager\\Enum");
  devices.at("C29A1000").set("HardWareKey", "ROOT\\*PNP0501\\0000");
  devices.at("C29A2000").set("HardWareKey", "usb\\vid_1\\a");
  devices.at("C29A3000").set("HardWareKey", "USB\\VID_1\\B");
}

TEST(EnumerateSerialPorts, RegistryWalkReadsPortKeysByTheirRules) {
  ScriptedPortSystem system;
  windows98(system);
  EXPECT_EQ(enumerate(system), (std::vector<SSerInfo>{
                                   {.devicePath = "\\\\.\\COM5",
                                    .portName = "COM5",
                                    .friendlyName = "ZVE CDMA USB Modem",
                                    .isUsb = 0,
                                    .description = "ZVE CDMA USB Modem",
                                    .portNumber = 5},
                                   {.devicePath = "\\\\.\\COM300",
                                    .portName = "COM300",
                                    .friendlyName = "FOMA L",
                                    .isUsb = 0,
                                    .description = "FOMA L",
                                    .portNumber = 300 & 0xFF},
                                   {.devicePath = "\\\\.\\COM3",
                                    .portName = "COM3",
                                    .friendlyName = "FOMA L",
                                    .isUsb = 0,
                                    .description = "FOMA L",
                                    .portNumber = 3},  // the later COM3, in the first one's place
                                   {.devicePath = "\\\\.\\COM8",
                                    .portName = "COM8",
                                    .friendlyName = "ZVE Mobile USB Serial Port",
                                    .isUsb = 1,
                                    .description = "ZVE Mobile USB Serial Port",
                                    .portNumber = 8},
                                   {.devicePath = "\\\\.\\COM10",
                                    .portName = "COM10",
                                    .friendlyName = "FOMA SA OBEX",
                                    .isUsb = 1,
                                    .description = "FOMA SA OBEX",
                                    .portNumber = 0},
                                   {.devicePath = "\\\\.\\COM14",
                                    .portName = "COM14",
                                    .friendlyName = "Qualcomm HS-USB Diag",
                                    .isUsb = 1,
                                    .description = "Qualcomm HS-USB Diag",
                                    .portNumber = 0},
                                   {.devicePath = "\\\\.\\COM15",
                                    .portName = "COM15",
                                    .friendlyName = "ZVE Mobile USB Modem",
                                    .isUsb = 0,
                                    .description = "ZVE Mobile USB Modem",
                                    .portNumber = 15},
                                   {.devicePath = "\\\\.\\",
                                    .portName = "USB_SERIAL",
                                    .friendlyName = "ZVE Mobile USB Serial Port(COM)",
                                    .isUsb = 0,
                                    .description = "ZVE Mobile USB Serial Port(COM)",
                                    .portNumber = 0},
                               }));
}

TEST(EnumerateSerialPorts, EveryFailureThrowsItsTextWithEverythingClosed) {
  const struct {
    hx::WindowsVersion version;  // {major, minor, platform}
    const char* call;
    uint32_t code;
    const char* text;
  } cases[] = {
      {{10, 0, 2}, "version", 0x57, "Could not get OS version. (err=57)"},
      {{10, 0, 2}, "device set", 0xE000020B, "SetupDiGetClassDevs failed. (err=e000020b)"},
      {{10, 0, 2}, "interface 1", 0x6F8, "SetupDiEnumDeviceInterfaces failed. (err=6f8)"},
      {{10, 0, 2}, "detail 1", 0x7A, "SetupDiGetDeviceInterfaceDetail failed. (err=7a)"},
      {{4, 10, 1}, "open HKLM\\Enum", 5, "Could not read from HKLM\\Enum"},
      {{4, 10, 1}, "open HKLM\\Enum\\USB", 5, "Could not read from HKLM\\Enum\\USB"},
      {{4, 10, 1}, "open HKLM\\Enum\\USB\\ZVMODEM", 5, "Could not read from HKLM\\Enum\\USB\\ZVMODEM"},
      {{4, 10, 1}, "open HKLM\\Enum\\ZVATCR\\MODEM\\0000", 5, "Could not read from HKLM\\Enum\\...\\0000"},
      {{4, 10, 1}, "open HKLM\\Enum\\USB\\VID_0403&PID_6001\\0001", 5, "Could not read from HKLM\\Enum\\...\\0001"},
      {{4, 10, 1}, "open DYN\\Config Manager\\Enum", 5, "Could not read from HKLM\\Enum"},
      {{4, 10, 1}, "open DYN\\Config Manager\\Enum\\C29A2000", 5, "Could not read from HKLM\\Enum\\C29A2000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.call);
    ScriptedPortSystem system;
    windows98(system);
    system.windowsVersion = c.version;
    system.serialPorts = {device("FOMA L", "COM4"), device("FOMA L", "COM5"), device("FOMA L", "COM6")};
    system.failures[c.call] = c.code;
    hx::SerInfoList list;
    const SSerInfo earlier{.devicePath = "\\\\.\\COM2",
                           .portName = "COM2",
                           .friendlyName = "FOMA L",
                           .isUsb = 0,
                           .description = "FOMA L",
                           .portNumber = 2};
    list.Add(earlier);
    try {
      hx::EnumerateSerialPorts(system, list, 0, 0, 1);
      ADD_FAILURE() << "no failure";
    } catch (const hx::PortEnumerationError& e) {
      EXPECT_STREQ(e.what(), c.text);
    }
    EXPECT_EQ(system.openCount(), 0);
    EXPECT_EQ(system.badCloses(), 0);
    EXPECT_EQ(records(list), std::vector<SSerInfo>{earlier});  // as it was
  }
}

}  // namespace
