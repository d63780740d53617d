#include "hxphone/usb_gadget.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace hxphone {

namespace {

constexpr const char* kEnglishStrings = "strings/0x409";
constexpr const char* kConfiguration = "configs/c.1";

std::runtime_error systemError(const std::string& what, int error) {
  return std::runtime_error(what + ": " + std::strerror(error));
}

// One write of `text` to a configfs or sysfs attribute: the kernel takes or
// refuses it whole, and says why in errno.
int writeAttribute(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return errno;
  const ssize_t put = ::write(fd, text.data(), text.size());
  const int error = put < 0 ? errno : (static_cast<size_t>(put) == text.size() ? 0 : EIO);
  ::close(fd);
  return error;
}

void setAttribute(const std::string& path, const std::string& text) {
  if (int error = writeAttribute(path, text)) throw systemError("cannot write " + path, error);
}

std::string hex4(uint16_t value) {
  char text[8];
  std::snprintf(text, sizeof text, "0x%04x", value);
  return text;
}

// The kernel's words for why it refused a new ACM function.
std::string functionRefusal(const std::string& path, int error) {
  if (error == EBUSY) return path + ": all ACM functions are taken (the kernel allows 8 at once)";
  if (error == ENOENT || error == ENODEV)
    return path + ": the kernel has no ACM function (is usb_f_acm loaded?): " + std::strerror(error);
  return "cannot make " + path + ": " + std::strerror(error);
}

}  // namespace

UsbGadget::UsbGadget(std::string configfsRoot, std::string name, const GadgetStrings& strings)
    : m_root(std::move(configfsRoot)), m_name(std::move(name)), m_dir(m_root + "/" + m_name) {
  struct stat st{};
  if (::stat(m_root.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
    throw std::runtime_error(m_root + " is not there: is configfs mounted and libcomposite loaded?");
  if (::mkdir(m_dir.c_str(), 0755) != 0) {
    if (errno == EEXIST) throw std::runtime_error("a gadget " + m_dir + " is there already (another phone on this port?)");
    throw systemError("cannot make " + m_dir, errno);
  }
  m_made.push_back(m_dir);
  try {
    setAttribute(m_dir + "/idVendor", hex4(kPhoneUsbVendor));
    setAttribute(m_dir + "/idProduct", hex4(kPhoneUsbProduct));
    const std::string strings409 = m_dir + "/" + kEnglishStrings;
    if (::mkdir(strings409.c_str(), 0755) != 0 && errno != EEXIST) throw systemError("cannot make " + strings409, errno);
    m_made.push_back(strings409);
    setAttribute(strings409 + "/manufacturer", strings.manufacturer);
    setAttribute(strings409 + "/product", strings.product);
    setAttribute(strings409 + "/serialnumber", strings.serial);
    const std::string function = m_dir + "/functions/acm." + m_name;
    if (::mkdir(function.c_str(), 0755) != 0) throw std::runtime_error(functionRefusal(function, errno));
    m_made.push_back(function);
    std::ifstream portNum(function + "/port_num");
    if (!(portNum >> m_portNumber)) throw std::runtime_error("cannot read " + function + "/port_num");
    const std::string config = m_dir + "/" + kConfiguration;
    if (::mkdir(config.c_str(), 0755) != 0 && errno != EEXIST) throw systemError("cannot make " + config, errno);
    m_made.push_back(config);
    const std::string link = config + "/acm." + m_name;
    if (::symlink(function.c_str(), link.c_str()) != 0) throw systemError("cannot link " + link, errno);
    m_made.push_back(link);
  } catch (...) {
    remove();
    throw;
  }
}

UsbGadget::~UsbGadget() {
  unbind();
  remove();
}

// configfs takes a gadget apart in the reverse order of its making: the
// configuration's link, the configuration, the function, the strings, the
// gadget (rmdir of a configfs group removes its attribute files with it).
void UsbGadget::remove() {
  for (auto it = m_made.rbegin(); it != m_made.rend(); ++it) {
    struct stat st{};
    if (::lstat(it->c_str(), &st) != 0) continue;
    const int gone = S_ISLNK(st.st_mode) ? ::unlink(it->c_str()) : ::rmdir(it->c_str());
    if (gone != 0) std::fprintf(stderr, "hxphone: cannot remove %s: %s\n", it->c_str(), std::strerror(errno));
  }
  m_made.clear();
}

std::string UsbGadget::phoneTtyPath() const { return "/dev/ttyGS" + std::to_string(m_portNumber); }

void UsbGadget::setSerial(const std::string& serial) {
  setAttribute(m_dir + "/" + kEnglishStrings + "/serialnumber", serial);
}

void UsbGadget::bind(const std::string& udc) {
  if (int error = writeAttribute(m_dir + "/UDC", udc + "\n"))
    throw systemError("cannot bind " + m_name + " to " + udc, error);
  m_bound = true;
}

// Two phones starting at once may both see a controller free: the kernel
// lets one bind and tells the other EBUSY, which moves on to the next.
std::string UsbGadget::bindToFree(const std::vector<std::string>& candidates) {
  for (const auto& udc : candidates) {
    const int error = writeAttribute(m_dir + "/UDC", udc + "\n");
    if (error == 0) {
      m_bound = true;
      return udc;
    }
    if (error != EBUSY) throw systemError("cannot bind " + m_name + " to " + udc, error);
  }
  throw std::runtime_error("no free USB device controller for " + m_name + " (" + std::to_string(candidates.size()) +
                           " there, all taken)");
}

void UsbGadget::unbind() {
  if (!m_bound) return;
  if (int error = writeAttribute(m_dir + "/UDC", "\n"))
    std::fprintf(stderr, "hxphone: cannot unbind %s: %s\n", m_name.c_str(), std::strerror(error));
  m_bound = false;
}

std::vector<std::string> usbDeviceControllers(const std::string& sysRoot) {
  std::vector<std::string> names;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(sysRoot + "/class/udc", ec))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

}  // namespace hxphone
