#pragma once
// The phone's entry in the ports directory: `com<n>`, a symlink to the tty
// the host opens (a pty slave, or the ttyACM a USB gadget produced).
#include <string>

namespace hxphone {

// $HXFLASH_PORTS_DIR, else $XDG_RUNTIME_DIR/hxflash/ports, else /tmp/hxflash-<uid>/ports.
std::string portsDirectory();
// Creates the directory (and missing parents) with mode 0700; throws on failure.
void ensurePortsDirectory(const std::string& path);

// Publishes `<portsDir>/com<port>` -> target atomically (a host never sees a
// half-made entry); returns the entry's path. Throws on failure.
std::string publishPortLink(const std::string& portsDir, unsigned port, const std::string& target);
// Removes the entry when it still names `target` (another phone may have
// taken the number since).
void withdrawPortLink(const std::string& link, const std::string& target);

}  // namespace hxphone
