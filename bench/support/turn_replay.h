#pragma once
// The floor a flash over a pty stands on: the same exchange, turn by turn,
// between two peers that do nothing but move the bytes. The host peer writes
// each turn's host bytes to a raw pty slave (one write, continued only when
// the pty took part of it) and reads exactly the phone's answer; the phone
// peer reads exactly the host bytes from the master and writes the answer.
// Each peer is a process of its own, forked from this one.
#include <vector>

#include "hxphone/link_turns.h"

namespace hxbench {

struct TurnReplay {
  double seconds = 0;  // the host peer's first write to its last read
  double hostCpuSeconds = 0;  // the host peer's user + system CPU meanwhile
  bool ok = false;     // both peers moved every byte
};

TurnReplay replayTurns(const std::vector<hxphone::LinkTurn>& turns);

}  // namespace hxbench
