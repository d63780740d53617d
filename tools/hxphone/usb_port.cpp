#include "hxphone/usb_port.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "hxphone/port_link.h"
#include "hxphone/raw_tty.h"
#include "hxphone/usb_host_tty.h"

namespace hxphone {

namespace {

constexpr auto kEnumerationPoll = std::chrono::milliseconds(10);

std::string gadgetName(unsigned port) { return "hxphone-com" + std::to_string(port); }

// Each phone's own serial string: udev's by-id names and hxflash's listing
// tell phones apart by it.
std::string phoneSerial(unsigned port, unsigned index) {
  return "HX" + std::to_string(port) + "-" + std::to_string(index);
}

int openPhoneTty(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw std::runtime_error("cannot open " + path + ": " + std::strerror(errno));
  try {
    makeRaw(fd);
  } catch (...) {
    ::close(fd);
    throw;
  }
  return fd;
}

bool isCharacterDevice(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

// One phone plugged into the socket's controller.
class UsbPort : public PluggedPort {
 public:
  UsbPort(UsbGadget& gadget, int phoneFd, std::string udc) : m_gadget(gadget), m_fd(phoneFd), m_udc(std::move(udc)) {}
  ~UsbPort() override { unplug(); }
  UsbPort(const UsbPort&) = delete;
  UsbPort& operator=(const UsbPort&) = delete;

  void publish(const std::string& portsDir, unsigned port, std::string hostTty) {
    m_hostPath = std::move(hostTty);
    m_linkPath = publishPortLink(portsDir, port, m_hostPath);
  }

  int phoneFd() const override { return m_fd; }
  const std::string& linkPath() const override { return m_linkPath; }
  const std::string& hostPath() const override { return m_hostPath; }
  std::string socket() const override { return "usb " + m_udc + ", " + m_gadget.phoneTtyPath(); }

  void unplug() override {
    withdrawPortLink(m_linkPath, m_hostPath);
    m_linkPath.clear();
    m_gadget.unbind();
    if (m_fd >= 0) {
      ::close(m_fd);
      m_fd = -1;
    }
  }

 private:
  UsbGadget& m_gadget;
  int m_fd;
  std::string m_udc;
  std::string m_linkPath;
  std::string m_hostPath;
};

}  // namespace

UsbSocket::UsbSocket(UsbSocketOptions options)
    : m_options(std::move(options)),
      m_gadget(m_options.configfsRoot, gadgetName(m_options.port), GadgetStrings{.serial = phoneSerial(m_options.port, 1)}) {
  if (m_options.portsDir.empty()) m_options.portsDir = portsDirectory();
}

// The first phone takes the controller it is told, or the first free one;
// every phone after it takes the same.
void UsbSocket::bind() {
  if (!m_udc.empty()) return m_gadget.bind(m_udc);
  if (!m_options.udc.empty()) {
    m_gadget.bind(m_options.udc);
    m_udc = m_options.udc;
    return;
  }
  m_udc = m_gadget.bindToFree(usbDeviceControllers(m_options.sysRoot));
}

std::string UsbSocket::awaitHostTty(const std::string& serial, const std::atomic<bool>& stopping) {
  const auto until = std::chrono::steady_clock::now() + m_options.enumerationLimit;
  while (!stopping.load()) {
    if (auto tty = findHostTty(m_options.sysRoot, serial); tty && isCharacterDevice(*tty)) return *tty;
    if (std::chrono::steady_clock::now() >= until)
      throw std::runtime_error("the host made no tty for the phone on " + m_udc + " within " +
                               std::to_string(m_options.enumerationLimit.count()) +
                               " ms (is cdc-acm loaded on the host side?)");
    std::this_thread::sleep_for(kEnumerationPoll);
  }
  return {};
}

std::unique_ptr<PluggedPort> UsbSocket::plugIn(unsigned index, const std::atomic<bool>& stopping) {
  const std::string serial = phoneSerial(m_options.port, index);
  m_gadget.setSerial(serial);
  const int fd = openPhoneTty(m_gadget.phoneTtyPath());
  std::unique_ptr<UsbPort> port;
  try {
    bind();
  } catch (...) {
    ::close(fd);
    throw;
  }
  port = std::make_unique<UsbPort>(m_gadget, fd, m_udc);
  const std::string hostTty = awaitHostTty(serial, stopping);
  if (hostTty.empty()) return nullptr;
  port->publish(m_options.portsDir, m_options.port, hostTty);
  return port;
}

}  // namespace hxphone
