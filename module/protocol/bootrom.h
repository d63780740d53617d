#pragma once
// The BootROM conversation: handshake, watchdog off, power key, agent load, jump.
#include <cstdint>

#include "formats/image_buffer.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

// Result codes of the BootROM steps.
enum BootRomResult : int {
  kBromTimeoutsFailed = 1012,   // the 500/5000 ms time-outs could not be set
  kBromAgentFailed = 2004,      // loading an agent image failed, or its checksum differs
  kBromHandshakeFailed = 2005,  // a handshake byte could not be written (or the wait ended)
  kBromJumpFailed = 2007,
  kBromWriteFailed = 2008,
  kBromReadFailed = 2009,
  kBromPowerKeyFailed = 2025,
};

// Results of the echo rule.
enum EchoResult : int { kEchoOk = 0, kEchoWriteFailed = 1, kEchoReadFailed = 2, kEchoDiffers = 3 };

// Sends A0 0A 50 05 until the BootROM answers each with its complement.
// Restarts at A0 on a missing or wrong answer; ends with 2005 when a write
// fails, the link is cancelled (Abort) or the phone stays wrong for the reply
// bound.
int bromStartHandshake(Link& link);

// Sends a field and checks the BootROM's echo of it.
int echoU8(Link& link, uint8_t value);
int echoU16(Link& link, uint16_t value);
int echoU32(Link& link, uint32_t value);

int bromWrite16(Link& link, uint32_t address, uint16_t value);   // 0 or 2008
int bromRead16(Link& link, uint32_t address, uint16_t* dest);    // 0 or 2009
int bromSendAgent(Link& link, const ImageBuffer& image);         // 0 or 2004
int bromJumpToAgent(Link& link, const ImageBuffer& image);       // 0 or 2007
int disableWatchdog(Link& link);                                 // 0 or 2008
int latchPowerKey(Link& link);                                   // 0 or 2025

// XOR of the image's little-endian 16-bit words, as the BootROM checks it.
uint16_t agentImageChecksum(const ImageBuffer& image);

// Runs the BootROM connection on an open link at 19200 baud, logging each
// step to `report`. 0 or a BootROM result code.
int connectBootRom(Link& link, const ImageBuffer& da1, const ImageBuffer& da2, SessionReport& report);

}  // namespace hx
