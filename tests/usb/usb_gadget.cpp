#include "usb_gadget.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <thread>

namespace usbtest {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kGadgetRoot = "/sys/kernel/config/usb_gadget";
constexpr const char* kControllerClass = "/sys/class/udc";
constexpr const char* kTtyClass = "/sys/class/tty";
// The placeholder ids, which the USB id database lists for nobody.
constexpr const char* kVendorId = "0xF055";
constexpr const char* kProductId = "0x0001";

void writeAttribute(const fs::path& file, const std::string& text) {
  std::ofstream out(file);
  out << text << '\n';
  out.flush();
  if (!out) throw std::runtime_error("cannot write '" + text + "' to " + file.string());
}

std::string readAttribute(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  std::getline(in, text);
  return text;
}

void removeQuietly(const fs::path& path) {
  std::error_code ec;
  fs::remove(path, ec);
}

}  // namespace

std::string whyNoGadgets() {
  if (::geteuid() != 0) return "USB gadgets are made by root (run inside scripts/usb-vm.sh)";
  std::error_code ec;
  if (!fs::is_directory(kGadgetRoot, ec)) return std::string(kGadgetRoot) + " is missing (not inside the USB test machine)";
  if (deviceControllers().empty()) return "no USB device controller (dummy_hcd) is there";
  return {};
}

std::vector<std::string> deviceControllers() {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(kControllerClass, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

UsbGadget::UsbGadget(std::string name, GadgetStrings strings)
    : m_name(std::move(name)), m_dir(std::string(kGadgetRoot) + "/" + m_name) {
  const fs::path dir(m_dir);
  fs::create_directory(dir);
  writeAttribute(dir / "idVendor", kVendorId);
  writeAttribute(dir / "idProduct", kProductId);
  fs::create_directory(dir / "strings" / "0x409");
  writeAttribute(dir / "strings" / "0x409" / "manufacturer", strings.manufacturer);
  writeAttribute(dir / "strings" / "0x409" / "product", strings.product);
  writeAttribute(dir / "strings" / "0x409" / "serialnumber", m_name);
  fs::create_directory(dir / "functions" / ("acm." + m_name));
  fs::create_directory(dir / "configs" / "c.1");
  fs::create_directory_symlink(dir / "functions" / ("acm." + m_name), dir / "configs" / "c.1" / ("acm." + m_name));
}

UsbGadget::~UsbGadget() {
  try {
    unplug();
  } catch (const std::exception&) {
  }
  const fs::path dir(m_dir);
  removeQuietly(dir / "configs" / "c.1" / ("acm." + m_name));
  removeQuietly(dir / "configs" / "c.1");
  removeQuietly(dir / "functions" / ("acm." + m_name));
  removeQuietly(dir / "strings" / "0x409");
  removeQuietly(dir);
}

void UsbGadget::plug(const std::string& controller) {
  writeAttribute(fs::path(m_dir) / "UDC", controller);
  m_plugged = true;
}

void UsbGadget::unplug() {
  if (!m_plugged) return;
  m_plugged = false;
  writeAttribute(fs::path(m_dir) / "UDC", "");
}

std::string UsbGadget::phoneTty() const {
  return "/dev/ttyGS" + readAttribute(fs::path(m_dir) / "functions" / ("acm." + m_name) / "port_num");
}

// The host's ttys whose USB device above them carries this gadget's serial.
static std::vector<std::string> stationTtysOf(const std::string& serial) {
  std::vector<std::string> ttys;
  std::error_code ec;
  for (fs::directory_iterator it(kTtyClass, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (name.rfind("ttyACM", 0) != 0) continue;
    std::error_code linkEc;
    const fs::path interface = fs::canonical(it->path() / "device", linkEc);
    if (linkEc) continue;
    if (readAttribute(interface.parent_path() / "serial") == serial) ttys.push_back("/dev/" + name);
  }
  return ttys;
}

std::string UsbGadget::waitStationTty(std::chrono::milliseconds limit) const {
  const auto end = Clock::now() + limit;
  do {
    for (const std::string& tty : stationTtysOf(m_name)) {
      const int fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) {
        ::close(fd);
        return tty;
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (Clock::now() < end);
  return {};
}

bool UsbGadget::waitGone(std::chrono::milliseconds limit) const {
  const auto end = Clock::now() + limit;
  while (!stationTtysOf(m_name).empty()) {
    if (Clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

PhoneEnd::PhoneEnd(const std::string& tty) {
  m_fd = ::open(tty.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (m_fd < 0) throw std::runtime_error("cannot open " + tty);
  termios tio{};
  ::tcgetattr(m_fd, &tio);
  ::cfmakeraw(&tio);
  tio.c_cflag |= CLOCAL | CREAD;
  ::tcsetattr(m_fd, TCSANOW, &tio);
}

PhoneEnd::~PhoneEnd() {
  if (m_fd >= 0) ::close(m_fd);
}

std::string PhoneEnd::read(size_t n, std::chrono::milliseconds limit) {
  std::string got;
  const auto end = Clock::now() + limit;
  while (got.size() < n) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, static_cast<int>(left)) <= 0) continue;
    std::array<char, 4096> buffer{};
    const ssize_t r = ::read(m_fd, buffer.data(), std::min(buffer.size(), n - got.size()));
    if (r <= 0) break;
    got.append(buffer.data(), static_cast<size_t>(r));
  }
  return got;
}

bool PhoneEnd::write(const std::string& bytes) {
  return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
}

void udevSettle() { runProgram("udevadm settle --timeout=60"); }

ProgramOutput runProgram(const std::string& commandLine) {
  ProgramOutput output;
  FILE* pipe = ::popen((commandLine + " 2>&1").c_str(), "r");
  if (!pipe) return output;
  std::array<char, 4096> buffer{};
  size_t n = 0;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) output.text.append(buffer.data(), n);
  const int status = ::pclose(pipe);
  output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

}  // namespace usbtest
