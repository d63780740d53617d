#pragma once
// POSIX: the refusals about a port's place on a station, made before any
// session starts because waiting cannot fix them: the ports directory, and
// the device each COM port's entry names.
#include <sys/types.h>

#include <cstdint>
#include <string>

#include "system/refusal.h"

namespace hxflash {

// The ports directory, made (mode 0700) when it does not exist yet; refused
// when the module would open no port in it.
Refusal checkPortsDirectory(const std::string& dir);

struct PortCheck {
  bool plugged = false;  // a device is there now
  Refusal refusal;
};

// COM `comPort`, served through `path`: its entry in the ports directory, or
// the device it will be attached to. An entry or a device that does not exist
// (yet) is a port waiting for its phone; one that is not a character device,
// or a device this user may not open, is refused.
PortCheck checkPort(uint32_t comPort, const std::string& path);

// What this user can do to be allowed to open a device of permission bits
// `mode` and group `gid`: join the group that may read and write it, or have
// a udev rule give the device to one of theirs.
std::string openAdvice(mode_t mode, gid_t gid);

}  // namespace hxflash
