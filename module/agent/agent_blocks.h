#pragma once
// The four agent blocks the module carries: DA1, DA2 and the two flash-device
// tables. Files DA1.bin, DA2.bin, NOR_TABLE.bin and NAND_TABLE.bin in a folder
// HX9120 beside the module replace the embedded blocks when present and
// well-formed, so a station with the real agent images can use them.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "formats/image_buffer.h"

namespace hx::agent {

inline constexpr uint32_t kDa1Length = 82808;
inline constexpr uint32_t kDa2Length = 7492;
inline constexpr uint32_t kDa1LoadAddress = 0x40001400;
inline constexpr uint32_t kDa2LoadAddress = 0x50044000;
inline constexpr const char* kOverrideFolder = "HX9120";

struct AgentBlocks {
  ImageBuffer da1;
  ImageBuffer da2;
  ImageBuffer norTable;
  ImageBuffer nandTable;
};

// Agent blocks with the bytes they point to; override files are kept here.
struct LoadedAgentBlocks {
  AgentBlocks blocks;
  std::vector<std::unique_ptr<std::vector<uint8_t>>> storage;
};

// The blocks built into the module.
AgentBlocks embeddedAgentBlocks();

// The embedded blocks, each replaced by its file in `folder` when that file is
// present and well-formed (agent images: even, non-zero length; tables: a whole
// number of records ending with a record that begins with 0xFFFF). A malformed
// file is logged and the embedded block used.
LoadedAgentBlocks loadAgentBlocks(const std::string& folder);

// The module's blocks, looked up once: the HX9120 folder beside the module.
const AgentBlocks& agentBlocks();

// The folder that holds the module's own file (the shared library, or the
// program it is linked into); empty when it cannot be found.
std::string moduleDirectory();

}  // namespace hx::agent
