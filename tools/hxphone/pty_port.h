#pragma once
// The phone's USB serial port on POSIX: a pseudo-terminal whose slave is
// published as `com<n>` in the ports directory. Plugging in creates the pty
// (raw 8N1, no echo) and the symlink; unplugging removes the symlink and
// closes the master, so a host that has the slave open reads a hang-up.
#include <string>

namespace hxphone {

// $HXFLASH_PORTS_DIR, else $XDG_RUNTIME_DIR/hxflash/ports, else /tmp/hxflash-<uid>/ports.
std::string portsDirectory();
// Creates the directory (and missing parents) with mode 0700; throws on failure.
void ensurePortsDirectory(const std::string& path);

class PtyPort {
 public:
  // Creates the pty and publishes it as `<portsDir>/com<port>`. When
  // `controllingTerminal` is set the slave becomes this process's controlling
  // terminal (the process must lead its own session), so no host process can
  // take it as its own.
  PtyPort(const std::string& portsDir, unsigned port, bool controllingTerminal);
  ~PtyPort();
  PtyPort(const PtyPort&) = delete;
  PtyPort& operator=(const PtyPort&) = delete;

  int masterFd() const { return m_master; }
  const std::string& slavePath() const { return m_slavePath; }
  const std::string& linkPath() const { return m_linkPath; }
  // Removes the symlink (when it still names this pty) and closes the master.
  void unplug();

 private:
  int m_master = -1;
  std::string m_slavePath;
  std::string m_linkPath;
};

}  // namespace hxphone
