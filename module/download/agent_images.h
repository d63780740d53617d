#pragma once
// The four embedded agent blocks and the records extracted from the package
// for a session: what the controller prepares in Init.
#include <cstdint>

#include "formats/bootloader_info.h"
#include "formats/image_buffer.h"
#include "formats/rom_info.h"
#include "package/package_records.h"

namespace hx {

struct AgentImages {
  ImageBuffer da1;        // loaded at 0x40001400 and started
  ImageBuffer da2;        // loaded at 0x50044000
  ImageBuffer norTable;   // 36-byte records
  ImageBuffer nandTable;  // 52-byte records
};

struct SessionImages {
  AgentImages agent;
  uint8_t bootloaderInfo[kBootloaderInfoBufferSize] = {};
  uint8_t romInfo[kRomInfoRecordMax] = {};
};

// Describes the agent blocks and extracts BootloaderInfo and RomInfo from the
// package records into `out`.
void prepareAgentImages(const PackageRecords& package, SessionImages& out);

}  // namespace hx
