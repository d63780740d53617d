#pragma once
// What `hxflash flash` refuses before any session starts, because waiting
// cannot fix it. Each check gives the one sentence that says why, or nothing.
// (The refusals about a port's place are the system's: system/port_refusals.h.)
#include <string>
#include <vector>

#include "host/port_assignment.h"
#include "package/package_records.h"
#include "system/refusal.h"

namespace hxflash {

// A COM port given more than once.
Refusal duplicatePort(const std::vector<PortAssignment>& ports);

// The package, judged by the module's own package reader and verdict.
// `records`: what the package file `path` gave the reader.
Refusal checkPackage(const std::string& path, const hx::PackageRecords& records);

}  // namespace hxflash
