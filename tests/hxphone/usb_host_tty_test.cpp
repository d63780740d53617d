// The host's tty of a phone's USB gadget, found in sysfs by the gadget's
// serial string among every ttyACM the machine has: a fake sysfs tree laid
// out as the kernel lays it (/sys/class/tty/ttyACM<n>/device -> the USB
// interface, whose parent is the USB device with its ids and serial).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "hxphone/usb_host_tty.h"

namespace {

namespace fs = std::filesystem;

class FakeSysfs {
 public:
  FakeSysfs() {
    char templ[] = "/tmp/hxphone-sysfs-XXXXXX";
    if (!::mkdtemp(templ)) throw std::runtime_error("mkdtemp");
    m_root = templ;
    fs::create_directories(m_root / "class/tty");
  }
  ~FakeSysfs() {
    std::error_code ec;
    fs::remove_all(m_root, ec);
  }

  // A USB device on bus `bus` with one ACM interface whose tty is `tty`.
  void addAcm(int bus, const std::string& tty, const std::string& vendor, const std::string& product,
              const std::string& serial) {
    const std::string port = std::to_string(bus) + "-1";
    const fs::path device = m_root / ("devices/platform/dummy_hcd." + std::to_string(bus - 1)) /
                            ("usb" + std::to_string(bus)) / port;
    const fs::path interface = device / (port + ":1.0");
    fs::create_directories(interface / "tty" / tty);
    write(device / "idVendor", vendor);
    write(device / "idProduct", product);
    if (!serial.empty()) write(device / "serial", serial);
    fs::create_directory_symlink(interface, interface / "tty" / tty / "device");
    fs::create_directory_symlink(interface / "tty" / tty, m_root / "class/tty" / tty);
  }
  void addOtherTty(const std::string& tty) { fs::create_directories(m_root / "class/tty" / tty); }

  std::string root() const { return m_root.string(); }

 private:
  static void write(const fs::path& path, const std::string& line) { std::ofstream(path) << line << "\n"; }
  fs::path m_root;
};

TEST(UsbHostTty, TheTtyOfThePhonesSerialAmongOtherAcmDevices) {
  FakeSysfs sys;
  sys.addOtherTty("ttyS0");
  sys.addAcm(1, "ttyACM0", "f055", "0001", "HX41-1");
  sys.addAcm(2, "ttyACM1", "f055", "0001", "HX42-1");
  sys.addAcm(3, "ttyACM2", "2c7c", "0125", "HX43-1");  // a modem that happens to share the serial
  sys.addAcm(4, "ttyACM3", "f055", "0001", "HX43-1");
  sys.addAcm(5, "ttyACM4", "f055", "0001", "");         // a device without a serial string
  struct Case {
    const char* serial;
    std::optional<std::string> tty;
  };
  for (const Case& c : {Case{"HX41-1", "/dev/ttyACM0"}, Case{"HX42-1", "/dev/ttyACM1"},
                        Case{"HX43-1", "/dev/ttyACM3"}, Case{"HX44-1", std::nullopt}, Case{"HX4", std::nullopt}})
    EXPECT_EQ(hxphone::findHostTty(sys.root(), c.serial), c.tty) << c.serial;
}

}  // namespace
