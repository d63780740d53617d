#include "ports_dir.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <stdexcept>

namespace hxtest {

PortsDir::PortsDir() {
  char templ[] = "/tmp/hxflash-test-ports-XXXXXX";
  if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp");
  m_path = templ;
  chmod(m_path.c_str(), 0700);
  setenv("HXFLASH_PORTS_DIR", m_path.c_str(), 1);
}

PortsDir::~PortsDir() {
  unsetenv("HXFLASH_PORTS_DIR");
  std::error_code ec;
  std::filesystem::remove_all(m_path, ec);
}

std::string PortsDir::entry(uint32_t comPort) const { return m_path + "/com" + std::to_string(comPort); }

void PortsDir::plug(uint32_t comPort, const std::string& target) {
  unplug(comPort);
  if (symlink(target.c_str(), entry(comPort).c_str()) != 0) throw std::runtime_error("symlink");
}

void PortsDir::unplug(uint32_t comPort) { ::unlink(entry(comPort).c_str()); }

}  // namespace hxtest
