#pragma once
// What the host sends in the conversations the phone-answer targets fuzz:
// the module's embedded agent blocks and a small builder-made package
// (512-byte pages) as the module loads it. The seed maker records a virtual
// phone's answers to exactly these.
#include <cstdint>

#include "download/agent_images.h"
#include "package/package_records.h"
#include "protocol/session_report.h"

namespace hxfuzz {

// A session's reporting that keeps nothing: events, lines and reasons are dropped.
hx::SessionReport& quietReport();

struct HostInputs {
  hx::PackageRecords package;
  hx::SessionImages images;  // agent blocks, BootloaderInfo, RomInfo
  uint32_t fsAreaStart = 0;  // the last area of the package's RomInfo
  uint32_t fsAreaLength = 0;
};

// Built once; aborts when the package does not load.
const HostInputs& hostInputs();

// Makes every wait of the module (its D3 bounds, the agent's settle waits)
// take next to no time.
void fastClock();

}  // namespace hxfuzz
