#pragma once
// The phone's USB serial port stood in for by a pseudo-terminal whose slave
// is published as `com<n>` in the ports directory. Plugging in creates the
// pty (raw 8N1, no echo) and the symlink; unplugging removes the symlink and
// closes the master, so a host that has the slave open reads a hang-up.
#include <string>

#include "hxphone/plugged_port.h"
#include "hxphone/port_link.h"

namespace hxphone {

class PtyPort : public PluggedPort {
 public:
  // Creates the pty and publishes it as `<portsDir>/com<port>`. When
  // `controllingTerminal` is set the slave becomes this process's controlling
  // terminal (the process must lead its own session), so no host process can
  // take it as its own.
  PtyPort(const std::string& portsDir, unsigned port, bool controllingTerminal);
  ~PtyPort() override;
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  int phoneFd() const override { return m_master; }
  int masterFd() const { return m_master; }
  const std::string& slavePath() const { return m_slavePath; }
  const std::string& hostPath() const override { return m_slavePath; }
  const std::string& linkPath() const override { return m_linkPath; }
  // Removes the symlink (when it still names this pty) and closes the master.
  void unplug() override;

 private:
  int m_master = -1;
  std::string m_slavePath;
  std::string m_linkPath;
};

}  // namespace hxphone
