#pragma once
// The fewest system calls a host needs to move an exchange over a pty: its
// writes of the host's bytes and its reads of the phone's answers, each call
// moving as many bytes as one call on a pty pair moves at most.
//
// Those limits are this machine's: measured on fresh raw pty pairs by one
// non-blocking write() of far more than a pty holds into a pair nobody reads
// (the host's write to its slave), and by one read() of all that the other
// end has written meanwhile (the host's read from its slave, after the
// master's own such write), the most of a few tries.
#include <cstdint>
#include <vector>

#include "hxphone/link_turns.h"

namespace hxbench {

struct PtyLimits {
  uint64_t hostWrite = 0;  // bytes one write() to the slave takes at most
  uint64_t hostRead = 0;   // bytes one read() from the slave returns at most
};

// Throws when no pty pair can be opened.
PtyLimits measurePtyLimits();

// The floor of the turns: for each, ceil(host bytes / hostWrite) writes and
// ceil(phone bytes / hostRead) reads.
uint64_t floorCalls(const std::vector<hxphone::LinkTurn>& turns, const PtyLimits& limits);

// The turns up to the last one answered: a host's calls from its first write
// to its last read of the port carry exactly these.
std::vector<hxphone::LinkTurn> turnsUpToLastAnswer(const std::vector<hxphone::LinkTurn>& turns);

}  // namespace hxbench
