#pragma once
// The download agent's command bytes: the first byte the host sends for each
// command, once the agent is connected. The control bytes the commands share
// (0x5A, 0x69, 0xA5, 0x96) are in agent_wire.h.
#include <cstdint>

namespace hx {

inline constexpr uint8_t kCmdE0 = 0xE0;                 // the first command after the connection
inline constexpr uint8_t kCmdSharedData = 0xBE;         // read the bootloader's shared data of a type
inline constexpr uint8_t kCmdWriteBootloader = 0xDC;    // the bootloader and the ext bootloader
inline constexpr uint8_t kCmdNandImageList = 0xDD;      // where the ROM images and their ROM information lie
inline constexpr uint8_t kCmdWriteNfb = 0xDE;           // the ROM images, streamed in chunks
inline constexpr uint8_t kCmdReadBack = 0xDF;           // NAND read back, page data alone or with spare bytes
inline constexpr uint8_t kCmdFormat = 0xD4;             // format a range of NAND
inline constexpr uint8_t kCmdWriteBlock = 0xBD;         // one whole NAND block
inline constexpr uint8_t kCmdWritePages = 0xC0;         // selected pages of one NAND block
inline constexpr uint8_t kCmdEnableWatchdog = 0xDB;     // the last command: the phone resets

}  // namespace hx
