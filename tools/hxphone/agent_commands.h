#pragma once
// The agent's command loop and the commands it serves after the connection.
// The host's order is checked: E0 first, the four bootloader shared-data
// reads (types 0x10000..0x10003 in turn), the bootloader (DC), the NAND image
// list (DD), the NFB images (DE), then any read-backs (DF), formats (D4),
// write-block (BD) and write-pages (C0), and last the watchdog (DB), after
// which the phone resets.
#include <cstdint>

#include "hxphone/session_context.h"

namespace hxphone {

inline constexpr uint32_t kSharedDataTypes[4] = {0x10000, 0x10001, 0x10002, 0x10003};
inline constexpr uint16_t kWatchdogOnValue = 64;

// Serves commands until the session ends: after the watchdog command the
// phone resets; any other end comes from a command or the link.
SessionEnd serveAgentCommands(SessionContext& ctx);

// The commands, one file each.
Ending serveBootloader(SessionContext& ctx);      // 0xDC
Ending serveImageList(SessionContext& ctx);       // 0xDD
Ending serveNfbImages(SessionContext& ctx);       // 0xDE
Ending serveReadBack(SessionContext& ctx);        // 0xDF
Ending serveFormat(SessionContext& ctx);          // 0xD4
Ending serveWriteBlock(SessionContext& ctx);      // 0xBD
Ending serveWritePages(SessionContext& ctx);      // 0xC0

// The bytes the phone answers a shared-data read of `type` with.
std::vector<uint8_t> sharedDataFor(uint32_t type);

}  // namespace hxphone
