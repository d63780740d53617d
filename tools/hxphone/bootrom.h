#pragma once
// The phone's BootROM: the handshake, then command mode (every field the
// host sends is echoed) until the host jumps into the download agent.
//
// Handshake: the host sends 0xA0 0x0A 0x50 0x05 and each byte is answered
// with its complement; a wrong byte is not answered and starts the sequence
// again (0xA0 always starts it afresh).
//
// Commands: 0xA1 write 16-bit register, 0xA2 read 16-bit register, 0xAD load
// agent image (words sent high byte first, not echoed), 0xA4 checksum (XOR of
// the image's little-endian words), 0xA8 jump. The agent images must be DA1
// at 0x40001400 with 82808 bytes, then DA2 at 0x50044000 with 7492 bytes,
// each followed by its checksum command; the watchdog must be off and the
// power key latched before the jump to DA1.
#include <cstdint>

#include "hxphone/session_context.h"

namespace hxphone {

inline constexpr uint8_t kHandshake[4] = {0xA0, 0x0A, 0x50, 0x05};

inline constexpr uint32_t kDa1Address = 0x40001400;
inline constexpr uint32_t kDa1Length = 82808;
inline constexpr uint32_t kDa2Address = 0x50044000;
inline constexpr uint32_t kDa2Length = 7492;

inline constexpr uint32_t kWatchdogRegister = 0x801E0000;
inline constexpr uint16_t kWatchdogOff = 0x2200;

// The power-key controller's registers.
inline constexpr uint32_t kPkStatus = 0x800C0000;   // bit 7 busy, bit 6 not idle
inline constexpr uint32_t kPkTrigger = 0x800C0074;
inline constexpr uint32_t kPkKey1 = 0x800C0050;
inline constexpr uint32_t kPkKey2 = 0x800C0054;
inline constexpr uint32_t kPkUnlock = 0x800C0068;
inline constexpr uint32_t kPkControl = 0x800C0058;
inline constexpr uint16_t kPkKey1Value = 0xA357;
inline constexpr uint16_t kPkKey2Value = 0x67D2;

// Runs the handshake and command mode; goes on once the host has jumped to DA1.
Ending runBootRom(SessionContext& ctx);

}  // namespace hxphone
