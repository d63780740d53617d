#pragma once
// Typed operations over a Link. Numbers travel most significant byte first.
// Each returns a LinkResult code.
#include <cstddef>
#include <cstdint>

#include "link/link.h"
#include "platform/clock.h"

namespace hx {

int setLinkTimeouts(Link& link, uint32_t readMs, uint32_t writeMs);

int writeBytes(Link& link, const void* bytes, size_t count);
int writeU8(Link& link, uint32_t value);
int writeU16(Link& link, uint32_t value);
int writeU32(Link& link, uint32_t value);

// One read of `count` bytes, no retry: 0 complete, 1 nothing, 3 partial/failure.
int readBytes(Link& link, void* dest, size_t count);
// Reads until all `count` bytes have arrived, across empty time-outs; bounded
// by kReplyBoundMs on the module clock. 1 for a count of 0, 3 on failure or
// when the bound passes.
int readExact(Link& link, void* dest, size_t count);
// Reads until all `count` bytes have arrived, across empty time-outs until
// `window` has passed, then once more with the read's own time-out. 0
// complete, 1 nothing, 3 partial or failure.
int readWithin(Link& link, void* dest, size_t count, const Deadline& window);
// Waits, polling the link, until at least `count` bytes are waiting or
// `window` has passed.
void waitUntilWaiting(Link& link, size_t count, const Deadline& window);
int readU8(Link& link, uint8_t* dest);
int readU16(Link& link, uint16_t* dest);
int readU32(Link& link, uint32_t* dest);

}  // namespace hx
