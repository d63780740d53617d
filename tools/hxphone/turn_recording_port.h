#pragma once
// A layer that notes the link's exchange turn by turn (LinkTurns): every
// host byte the phone takes and every phone byte it puts on the link, when
// the layers below (the pace of the link) have let them cross.
#include "hxphone/byte_port.h"
#include "hxphone/link_turns.h"

namespace hxphone {

class TurnRecordingPort : public BytePort {
 public:
  TurnRecordingPort(BytePort& inner, LinkTurns& turns) : m_inner(inner), m_turns(turns) {}

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

 private:
  BytePort& m_inner;
  LinkTurns& m_turns;
};

}  // namespace hxphone
