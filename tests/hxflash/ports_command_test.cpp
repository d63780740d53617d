// `hxflash ports` run as a program on a machine of the test's own making: a
// sysfs tree, /dev with its /dev/serial names, /proc and udev's records,
// read through the command's hidden root options.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ports_dir.h"
#include "station.h"

namespace {

namespace fs = std::filesystem;
using testing::HasSubstr;
using testing::Not;

// An ordinary user that may not open what root's mode 0600 keeps to root.
constexpr uid_t kOrdinaryUid = 65534;

constexpr const char* kUsbHost = "devices/pci0000:00/0000:00:14.0/usb1";

// Folders and files of the tree, readable by an ordinary user whatever the
// test's umask.
class ReadableByAll {
 public:
  ReadableByAll() : m_previous(::umask(022)) {}
  ~ReadableByAll() { ::umask(m_previous); }

 private:
  mode_t m_previous;
};

void writeText(const fs::path& file, const std::string& text) {
  ReadableByAll readable;
  fs::create_directories(file.parent_path());
  std::ofstream(file) << text << "\n";
}

// A link as the kernel and udev make them: relative, from inside the tree.
void linkTo(const fs::path& link, const fs::path& target) {
  ReadableByAll readable;
  fs::create_directories(link.parent_path());
  fs::create_symlink(target.lexically_relative(link.parent_path()), link);
}

struct UsbPort {
  std::string tty;        // ttyACM0
  std::string socket;     // the hub port: 2
  std::string vendor, product, productName, interfaceName, driver;
  bool serialConverter;   // ttyUSB: the tty sits on a port device below the interface
  mode_t mode;            // of its /dev file
  std::string number;     // major:minor
  bool modemManagerIgnores;  // what udev's record of it says
};

// /sys, /dev, /proc and udev's records in /run of a machine with three USB serial ports, a UART, a
// UART name without hardware and a virtual console.
class MachineTree {
 public:
  MachineTree() {
    char templ[] = "/tmp/hxflash-test-machine-XXXXXX";
    if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp");
    m_root = templ;
    ::chmod(m_root.c_str(), 0755);
    for (const UsbPort& port : kUsbPorts) addUsbPort(port);
    addUart("ttyS0", "devices/pnp0/00:04", "4");
    addUart("ttyS3", "devices/platform/serial8250", "0");
    addVirtualConsole("tty1");
    writeText(proc() / "1" / "comm", "systemd");
  }
  ~MachineTree() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }

  fs::path sys() const { return m_root / "sys"; }
  fs::path dev() const { return m_root / "dev"; }
  fs::path proc() const { return m_root / "proc"; }
  fs::path run() const { return m_root / "run"; }
  std::string byPath(const std::string& socket) const {
    return (dev() / "serial" / "by-path" / ("pci-0000:00:14.0-usb-0:" + socket + ":1.0")).string();
  }
  void startModemManager() { writeText(proc() / "880" / "comm", "ModemManager"); }

  static inline const UsbPort kUsbPorts[] = {
      {"ttyACM0", "2", "f055", "0001", "ZVE Mobile USB Modem", "CDC Abstract Control Model", "cdc_acm", false, 0666,
       "166:0", true},
      {"ttyUSB0", "3", "f055", "0003", "USB UART", "", "ftdi_sio", true, 0666, "188:0", false},
      // The phone port's name on its interface only; a device only root may open.
      {"ttyACM1", "4", "f055", "0002", "Download", "ZVE CDMA USB Serial Port 1", "cdc_acm", false, 0600, "166:1",
       false},
  };

 private:
  void addUsbPort(const UsbPort& port) {
    const fs::path device = sys() / kUsbHost / ("1-" + port.socket);
    writeText(device / "idVendor", port.vendor);
    writeText(device / "idProduct", port.product);
    writeText(device / "product", port.productName);
    writeText(device / "manufacturer", "Maker");
    writeText(device / "serial", "SN" + port.socket);
    const fs::path interface = device / ("1-" + port.socket + ":1.0");
    writeText(interface / "bInterfaceNumber", "00");
    if (!port.interfaceName.empty()) writeText(interface / "interface", port.interfaceName);
    const fs::path ttyParent = port.serialConverter ? interface / port.tty : interface;
    writeText(sys() / "bus" / "usb" / "drivers" / port.driver / "uevent", "DRIVER=" + port.driver);
    linkTo(ttyParent / "driver", sys() / "bus" / "usb" / "drivers" / port.driver);
    addTty(port.tty, ttyParent / "tty" / port.tty, ttyParent, port.number);
    writeText(run() / "udev" / "data" / ("c" + port.number),
              std::string("I:1234\nE:ID_VENDOR_ID=") + port.vendor +
                  (port.modemManagerIgnores ? "\nE:ID_MM_DEVICE_IGNORE=1" : "") + "\nG:systemd");
    addDeviceFile(port.tty, port.mode);
    std::string byId = "usb-Maker_" + port.productName + "_SN" + port.socket + "-if00";
    std::replace(byId.begin(), byId.end(), ' ', '_');
    linkTo(dev() / "serial" / "by-id" / byId, dev() / port.tty);
    linkTo(byPath(port.socket), dev() / port.tty);
  }

  void addUart(const std::string& tty, const std::string& device, const std::string& type) {
    const fs::path ttyDir = sys() / device / "tty" / tty;
    writeText(ttyDir / "type", type);
    addTty(tty, ttyDir, sys() / device, "4:64");
    addDeviceFile(tty, 0660);
  }

  void addVirtualConsole(const std::string& tty) {
    addTty(tty, sys() / "devices" / "virtual" / "tty" / tty, {}, "4:1");
    addDeviceFile(tty, 0620);
  }

  void addTty(const std::string& tty, const fs::path& ttyDir, const fs::path& device, const std::string& number) {
    writeText(ttyDir / "dev", number);
    if (!device.empty()) linkTo(ttyDir / "device", device);
    linkTo(sys() / "class" / "tty" / tty, ttyDir);
  }

  void addDeviceFile(const std::string& tty, mode_t mode) {
    writeText(dev() / tty, "");
    ::chmod((dev() / tty).c_str(), mode);
  }

  fs::path m_root;
};

class PortsOfAMachine : public testing::Test {
 protected:
  MachineTree machine;
  hxtest::PortsDir ports;
  std::string runDir = (fs::path(ports.path()).parent_path() / ("hx-ports-run-" + std::to_string(::getpid()))).string();

  void SetUp() override { fs::create_directories(runDir); }
  void TearDown() override {
    std::error_code ec;
    fs::remove_all(runDir, ec);
  }

  // hxflash ports on the tree, as an ordinary user: root may open any device.
  std::unique_ptr<hxtest::ProgramRun> listPorts() {
    std::vector<std::string> argv;
    if (::geteuid() == 0) {
      if (::access("/usr/bin/setpriv", X_OK) != 0) return nullptr;
      if (::chown(ports.path().c_str(), kOrdinaryUid, kOrdinaryUid) != 0) return nullptr;
      argv = {"/usr/bin/setpriv", "--reuid=" + std::to_string(kOrdinaryUid),
              "--regid=" + std::to_string(kOrdinaryUid), "--clear-groups"};
    } else {
      ::chmod((machine.dev() / "ttyACM1").c_str(), 0);
    }
    argv.insert(argv.end(), {HXFLASH_PATH, "ports", "--sysfs-root", machine.sys().string(), "--dev-root",
                             machine.dev().string(), "--proc-root", machine.proc().string(), "--run-root",
                             machine.run().string()});
    return std::make_unique<hxtest::ProgramRun>(runDir, "ports" + std::to_string(++m_runs), argv);
  }

 private:
  int m_runs = 0;
};

TEST_F(PortsOfAMachine, ListsTheSerialDevicesWithTheirUsbIdentityAccessAndPhoneVerdict) {
  auto run = listPorts();
  if (!run) GTEST_SKIP() << "needs setpriv to run as an ordinary user";
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  const std::string out = run->out();
  const std::string dev = machine.dev().string();

  // A phone-named ACM port: its identity, its names, open to this user, a phone's port.
  EXPECT_THAT(out, HasSubstr(dev + "/ttyACM0  USB f055:0001 \"ZVE Mobile USB Modem\" by \"Maker\", serial \"SN2\", "
                             "interface \"CDC Abstract Control Model\", driver cdc_acm\n"
                             "    by-path  " + machine.byPath("2") + "\n"
                             "    by-id    " + dev + "/serial/by-id/usb-Maker_ZVE_Mobile_USB_Modem_SN2-if00\n"
                             "    access   "));
  EXPECT_THAT(out, HasSubstr(" 0666, not a character device, this user may open it\n"
                             "    phone    yes: its name is a phone port's\n"));
  // A USB serial adapter: listed through its port device, not a phone's port.
  EXPECT_THAT(out, HasSubstr(dev + "/ttyUSB0  USB f055:0003 \"USB UART\""));
  EXPECT_THAT(out, HasSubstr("driver ftdi_sio"));
  EXPECT_THAT(out, HasSubstr("phone    no: neither its product \"USB UART\" nor its interface \"\""));
  // The phone's name on the interface only; a device this user may not open, and what to do.
  EXPECT_THAT(out, HasSubstr(", this user may not open it (Permission denied): give the device to a group of"));
  // A UART with hardware is listed; a UART name without hardware and a virtual console are not.
  EXPECT_THAT(out, HasSubstr(dev + "/ttyS0  UART"));
  EXPECT_THAT(out, Not(HasSubstr("/ttyS3")));
  EXPECT_THAT(out, Not(HasSubstr("/tty1")));
  EXPECT_THAT(out, HasSubstr("ModemManager: not running"));
  // Both phone ports, each by its USB socket, on the first free COM ports.
  EXPECT_THAT(out, HasSubstr(" --port 41=" + machine.byPath("2") + " --port 42=" + machine.byPath("4") + "\n"));
  EXPECT_THAT(out, Not(HasSubstr("=" + machine.byPath("3"))));
}

TEST_F(PortsOfAMachine, AMappedPhonePortKeepsItsComPortNamedByItsSocket) {
  machine.startModemManager();
  ports.plug(42, (machine.dev() / "ttyACM0").string());  // a file, not a character device
  ports.plug(47, (machine.dev() / "ttyACM9").string());  // not plugged in: no fault
  auto run = listPorts();
  if (!run) GTEST_SKIP() << "needs setpriv to run as an ordinary user";
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  const std::string out = run->out();
  EXPECT_THAT(out, HasSubstr("ModemManager: running; it probes every new ttyACM port and breaks flashing"));
  // Which ports udev has marked for ModemManager to leave alone.
  EXPECT_THAT(out, HasSubstr("    phone    yes: its name is a phone port's\n"
                             "    udev     ModemManager leaves it alone (ID_MM_DEVICE_IGNORE)\n"
                             "  " + (machine.dev() / "ttyACM1").string()));
  EXPECT_THAT(out, HasSubstr("    udev     ModemManager may probe it: no udev rule set ID_MM_DEVICE_IGNORE\n"
                             "  " + (machine.dev() / "ttyS0").string()));
  EXPECT_THAT(out, HasSubstr("COM42  -> " + (machine.dev() / "ttyACM0").string()));
  EXPECT_THAT(out, HasSubstr("unusable: COM42:"));
  EXPECT_THAT(out, HasSubstr("this USB socket for good: --port 42=" + machine.byPath("2")));
  EXPECT_THAT(out, HasSubstr("no device there (not plugged in)"));
  // The mapped phone port keeps COM42; the other takes the first free one.
  EXPECT_THAT(out, HasSubstr(" --port 42=" + machine.byPath("2") + " --port 41=" + machine.byPath("4") + "\n"));
}

}  // namespace
