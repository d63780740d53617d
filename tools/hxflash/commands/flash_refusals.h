#pragma once
// What `hxflash flash` refuses before any session starts, because waiting
// cannot fix it. Each check gives the one sentence that says why, or nothing.
#include <cstdint>
#include <optional>
#if !defined(_WIN32)
#include <sys/types.h>
#endif
#include <string>
#include <vector>

#include "package/package_records.h"
#include "host/port_assignment.h"

namespace hxflash {

using Refusal = std::optional<std::string>;

// A COM port given more than once.
Refusal duplicatePort(const std::vector<PortAssignment>& ports);

#if !defined(_WIN32)
// POSIX: the ports directory, made (mode 0700) when it does not exist yet; refused
// when the module would open no port in it.
Refusal checkPortsDirectory(const std::string& dir);

struct PortCheck {
  bool plugged = false;  // a device is there now
  Refusal refusal;
};

// POSIX: COM `comPort`, served through `path`: its entry in the ports directory, or
// the device it will be attached to. An entry or a device that does not exist
// (yet) is a port waiting for its phone; one that is not a character device,
// or a device this user may not open, is refused.
PortCheck checkPort(uint32_t comPort, const std::string& path);

// What this user can do to be allowed to open a device of permission bits
// `mode` and group `gid`: join the group that may read and write it, or have
// a udev rule give the device to one of theirs.
std::string openAdvice(mode_t mode, gid_t gid);
#endif

// The package, judged by the module's own package reader and verdict.
// `records`: what the package file `path` gave the reader.
Refusal checkPackage(const std::string& path, const hx::PackageRecords& records);

}  // namespace hxflash
