#include "download/agent_images.h"

#include "agent/agent_blocks.h"
#include "formats/rom_info.h"
#include "formats/bootloader_info.h"

namespace hx {

// The extraction results are not acted on here: the package verdict refuses a
// download whose records are missing before anything is sent to the agent.
// The buffers start zeroed, so a missing record leaves zeros, never old bytes.
void prepareAgentImages(const PackageRecords& package, SessionImages& out) {
  out = SessionImages{};
  const agent::AgentBlocks& blocks = agent::agentBlocks();
  out.agent = {blocks.da1, blocks.da2, blocks.norTable, blocks.nandTable};
  extractBootloaderInfo(package.bootloader, out.bootloaderInfo);
  extractRomInfo(package.romImage, out.romInfo);
}

}  // namespace hx
