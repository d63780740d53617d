#include "protocol/agent_images.h"

namespace hx {

// Placeholder until the agent blocks land: nothing to load.
void prepareAgentImages(const PackageRecords&, SessionImages& out) { out = SessionImages{}; }

}  // namespace hx
