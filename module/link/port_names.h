#pragma once
// COM port names on POSIX. COM port n is the entry `com<n>` of the ports
// directory, a symbolic link to the port's tty (a USB modem, a pty slave).
// The directory is $HXFLASH_PORTS_DIR if set, else $XDG_RUNTIME_DIR/hxflash/ports,
// else /tmp/hxflash-<uid>/ports. It stands in for the system's device names.
#include <cstdint>
#include <string>

namespace hx {

std::string portsDirectory();

// Whether `dir` may serve as the ports directory: a directory owned by this
// user that nobody else can write. False, with the reason in *why, otherwise.
bool portsDirectoryTrusted(const std::string& dir, std::string* why);

// The device path of COM port `comPort`, or an empty string (and the reason in
// *why) when the ports directory is not owned by this user or writable by
// others, or the entry is missing or names no character device.
std::string comPortDevicePath(uint32_t comPort, std::string* why);

}  // namespace hx
