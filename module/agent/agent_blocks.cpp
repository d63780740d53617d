#include "agent/agent_blocks.h"

#include <cstdio>
#include <fstream>

#include "agent/agent_table_layout.h"
#include "platform/log.h"

namespace hx::agent {

// Generated at build time (generate_agent_blocks).
alignas(4) extern const uint8_t kEmbeddedDa1[kDa1Length];
alignas(4) extern const uint8_t kEmbeddedDa2[kDa2Length];
alignas(4) extern const uint8_t kEmbeddedNorTable[agent_table::nor::kRecordSize * agent_table::nor::kRecordCount];
alignas(4) extern const uint8_t kEmbeddedNandTable[agent_table::nand::kRecordSize * agent_table::nand::kRecordCount];

namespace {

// No agent block of a real station comes near this; larger files are refused
// before anything is allocated.
constexpr std::streamoff kMaxOverrideBytes = 16 << 20;

enum class BlockKind { AgentImage, Table };

struct BlockFile {
  const char* name;
  BlockKind kind;
  size_t recordSize;
  ImageBuffer AgentBlocks::*slot;
};

const BlockFile kBlockFiles[] = {
    {"DA1.bin", BlockKind::AgentImage, 0, &AgentBlocks::da1},
    {"DA2.bin", BlockKind::AgentImage, 0, &AgentBlocks::da2},
    {"NOR_TABLE.bin", BlockKind::Table, agent_table::nor::kRecordSize, &AgentBlocks::norTable},
    {"NAND_TABLE.bin", BlockKind::Table, agent_table::nand::kRecordSize, &AgentBlocks::nandTable},
};

// Why a block file cannot be used, or nullptr when it is well-formed.
const char* malformedReason(const BlockFile& file, const std::vector<uint8_t>& bytes) {
  if (bytes.empty()) return "empty";
  if (file.kind == BlockKind::AgentImage) return bytes.size() % 2 != 0 ? "odd length" : nullptr;
  if (bytes.size() % file.recordSize != 0) return "not a whole number of records";
  const uint8_t* last = bytes.data() + bytes.size() - file.recordSize;
  return agent_table::readLe16(last) != agent_table::kEndMarker ? "last record does not begin with 0xFFFF" : nullptr;
}

enum class ReadOutcome { Absent, Read, Unreadable };

ReadOutcome readBlockFile(const std::string& path, std::vector<uint8_t>& bytes) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return ReadOutcome::Absent;
  const std::streamoff size = in.tellg();
  if (size < 0 || size > kMaxOverrideBytes) return ReadOutcome::Unreadable;
  bytes.resize(static_cast<size_t>(size));
  in.seekg(0);
  if (size > 0 && !in.read(reinterpret_cast<char*>(bytes.data()), size)) return ReadOutcome::Unreadable;
  return ReadOutcome::Read;
}

}  // namespace

AgentBlocks embeddedAgentBlocks() {
  AgentBlocks blocks;
  blocks.da1 = {kEmbeddedDa1, kDa1Length, kDa1LoadAddress};
  blocks.da2 = {kEmbeddedDa2, kDa2Length, kDa2LoadAddress};
  blocks.norTable = {kEmbeddedNorTable, sizeof kEmbeddedNorTable, 0};
  blocks.nandTable = {kEmbeddedNandTable, sizeof kEmbeddedNandTable, 0};
  return blocks;
}

LoadedAgentBlocks loadAgentBlocks(const std::string& folder) {
  LoadedAgentBlocks loaded;
  loaded.blocks = embeddedAgentBlocks();
  if (folder.empty()) return loaded;
  for (const BlockFile& file : kBlockFiles) {
    const std::string path = folder + "/" + file.name;
    auto bytes = std::make_unique<std::vector<uint8_t>>();
    const ReadOutcome outcome = readBlockFile(path, *bytes);
    if (outcome == ReadOutcome::Absent) continue;
    const char* reason = outcome == ReadOutcome::Unreadable ? "unreadable or too large" : malformedReason(file, *bytes);
    if (reason) {
      logMessage("Agent block %s refused (%s); using the embedded block\n", path.c_str(), reason);
      continue;
    }
    ImageBuffer& slot = loaded.blocks.*file.slot;
    slot.data = bytes->data();
    slot.length = static_cast<uint32_t>(bytes->size());
    logMessage("Agent block %s used instead of the embedded block\n", path.c_str());
    loaded.storage.push_back(std::move(bytes));
  }
  return loaded;
}

const AgentBlocks& agentBlocks() {
  static const LoadedAgentBlocks loaded = [] {
    const std::string dir = moduleDirectory();
    return loadAgentBlocks(dir.empty() ? std::string() : dir + "/" + kOverrideFolder);
  }();
  return loaded.blocks;
}

}  // namespace hx::agent
