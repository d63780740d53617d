#pragma once
// A layer that paces the link like a USB full-speed serial port (`--link
// usb-fs`, see PacedLink): the bytes of each direction cross a frame's worth
// at a time at the link's rate, and each answer starts a turnaround after the
// last byte of the request it answers.
//
// Host bytes are taken from the layer below a frame's worth at a time and
// are the phone's once they have crossed; bytes that were waiting follow the
// ones before them. The phone's bytes go down a frame at a time, each once it
// has crossed.
#include <vector>

#include "hxphone/byte_port.h"
#include "hxphone/link_pacer.h"

namespace hxphone {

class PacedPort : public BytePort {
 public:
  PacedPort(BytePort& inner, const PacedLink& link);

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

 private:
  Ending takeFrame(ReadDeadline deadline, const char* what, Arrival* arrival);

  BytePort& m_inner;
  PacedLink m_link;
  LinkPacer m_fromHost;
  LinkPacer m_toHost;
  bool m_answering = false;  // the phone's last move was a write
  LinkClock::time_point m_answerNotBefore{};
  // Host bytes that have crossed and wait to be taken.
  std::vector<uint8_t> m_frame;
  size_t m_head = 0;
  size_t m_tail = 0;
};

}  // namespace hxphone
