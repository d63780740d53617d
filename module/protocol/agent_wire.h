#pragma once
// What every download-agent exchange shares: the control bytes, the 16-bit byte
// sum, and the reads that wait for the agent's answer.
#include <cstddef>
#include <cstdint>

#include "formats/big_endian.h"
#include "platform/clock.h"
#include "link/link.h"

namespace hx {

// Control bytes of the download-agent protocol.
inline constexpr uint8_t kAgentAck = 0x5A;       // acknowledge / go on
inline constexpr uint8_t kAgentContinue = 0x69;  // packet arrived well / send the chunk again
inline constexpr uint8_t kAgentRefusal = 0xA5;   // give up a transfer / the agent refuses
inline constexpr uint8_t kAgentFailure = 0x96;   // the agent could not store a packet
inline constexpr uint8_t kAgentReady = 0xC0;     // the agent's first byte after it starts

// 16-bit sum (modulo 65536) of all bytes.
uint16_t byteSum16(const uint8_t* bytes, size_t count);

// Reads single bytes until one arrives. Time-outs are retried until `boundMs`
// (scaled) has passed; a read error ends the wait at once. 0 and the byte, 1
// when the bound passed (the silence noted on the link), 3 on a read error.
int readByteWaiting(Link& link, uint8_t* dest, uint32_t boundMs = kReplyBoundMs);

// Waits for one byte as readByteWaiting and tells whether it was `expected`
// (another is noted on the link).
bool expectByteWaiting(Link& link, uint8_t expected, uint32_t boundMs = kReplyBoundMs);

// Reads an acknowledgement: expectByteWaiting of 0x5A.
bool readAcknowledgement(Link& link, uint32_t boundMs = kReplyBoundMs);

// Whether an answer is the one expected; one that is not is noted on the link
// as the cause of what fails next.
bool isExpected(Link& link, LinkCause::Subject subject, uint32_t received, uint32_t expected);

// Reads a 16-bit or 32-bit value, waiting across time-outs (and pieces) up to
// the reply bound. 0 on success; the destination is untouched otherwise.
int readU16Waiting(Link& link, uint16_t* dest);
int readU32Waiting(Link& link, uint32_t* dest);

}  // namespace hx
