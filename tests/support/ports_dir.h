#pragma once
// A private ports directory for one test, named by HXFLASH_PORTS_DIR while the
// object lives. COM ports are plugged in and out by creating and removing
// their com<n> entries.
#include <cstdint>
#include <string>

namespace hxtest {

class PortsDir {
 public:
  PortsDir();
  ~PortsDir();
  PortsDir(const PortsDir&) = delete;
  PortsDir& operator=(const PortsDir&) = delete;

  const std::string& path() const { return m_path; }
  std::string entry(uint32_t comPort) const;
  void plug(uint32_t comPort, const std::string& target);
  void unplug(uint32_t comPort);

 private:
  std::string m_path;
};

}  // namespace hxtest
