#include "system/port_attach.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "link/port_names.h"

namespace hxflash {

AttachedPort::AttachedPort(uint32_t comPort, const std::string& device) : m_device(device) {
  const std::string dir = hx::portsDirectory();
  std::error_code ec;
  const bool created = std::filesystem::create_directories(dir, ec);
  if (ec) throw std::runtime_error("cannot create the ports directory " + dir + ": " + ec.message());
  if (created) ::chmod(dir.c_str(), 0700);  // the module refuses a directory others can write
  m_entry = dir + "/com" + std::to_string(comPort);
  ::unlink(m_entry.c_str());
  if (::symlink(device.c_str(), m_entry.c_str()) != 0)
    throw std::runtime_error("cannot attach " + device + " as " + m_entry + ": " + std::strerror(errno));
}

AttachedPort::~AttachedPort() {
  char target[4096];
  const ssize_t n = ::readlink(m_entry.c_str(), target, sizeof target - 1);
  if (n > 0 && std::string(target, static_cast<size_t>(n)) == m_device) ::unlink(m_entry.c_str());
}

}  // namespace hxflash
