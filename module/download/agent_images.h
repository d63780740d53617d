#pragma once
// The four embedded agent blocks and the records extracted from the package
// for a session: what the controller prepares in Init.
#include <cstdint>

#include "formats/image_buffer.h"
#include "package/package_records.h"

namespace hx {

inline constexpr uint32_t kBootloaderInfoSize = 136;
inline constexpr uint32_t kRomInfoSize = 352;

struct AgentImages {
  ImageBuffer da1;        // loaded at 0x40001400 and started
  ImageBuffer da2;        // loaded at 0x50044000
  ImageBuffer norTable;   // 36-byte records
  ImageBuffer nandTable;  // 52-byte records
};

struct SessionImages {
  AgentImages agent;
  uint8_t bootloaderInfo[kBootloaderInfoSize] = {};
  uint8_t romInfo[kRomInfoSize] = {};
};

// Describes the agent blocks and extracts BootloaderInfo and RomInfo from the
// package records into `out`.
void prepareAgentImages(const PackageRecords& package, SessionImages& out);

}  // namespace hx
