#include "protocol/agent_images.h"

#include "agent/agent_blocks.h"

namespace hx {

void prepareAgentImages(const PackageRecords&, SessionImages& out) {
  out = SessionImages{};
  const agent::AgentBlocks& blocks = agent::agentBlocks();
  out.agent = {blocks.da1, blocks.da2, blocks.norTable, blocks.nandTable};
}

}  // namespace hx
