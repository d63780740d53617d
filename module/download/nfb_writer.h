#pragma once
// The NFB image write: the primary and the secondary ROM image streamed to the
// agent in 4096-byte chunks, each with its byte sum, then whole-image checks.
#include "formats/image_buffer.h"
#include "protocol/agent_commands.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

// 0 or 4008 (kNfbWriteFailed).
int writeNfbImages(Link& link, const ImageBuffer& primary, const ImageBuffer& secondary, SessionReport& report);

}  // namespace hx
