#pragma once
// A layer that paces the link like a USB full-speed serial port (`--link
// usb-fs`, see PacedLink): the bytes of each direction cross a frame's worth
// at a time at the link's rate, and each answer starts a turnaround after the
// last byte of the request it answers.
//
// Host bytes are taken from the layer below as a CDC-ACM port takes them: a
// bulk transfer at a time, up to a transfer buffer's worth of what the host
// has written (so a host's write is taken in a few large pieces, however slow
// the link). They become the phone's a frame's worth at a time, each once it
// has crossed; bytes that were waiting follow the ones before them. The
// phone's bytes go down a frame at a time, each once it has crossed.
#include <cstddef>
#include <vector>

#include "hxphone/byte_port.h"
#include "hxphone/link_pacer.h"

namespace hxphone {

// What one bulk OUT transfer of a CDC-ACM port holds at most: the host's
// driver hands its bytes over in pieces of up to this size.
inline constexpr size_t kUsbTransferBytes = 16 * 1024;

class PacedPort : public BytePort {
 public:
  PacedPort(BytePort& inner, const PacedLink& link);

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

 private:
  Ending takeTransfer(ReadDeadline deadline, const char* what, Arrival* arrival);
  void drainWaitingBytes(const char* what);
  void crossFrame();

  BytePort& m_inner;
  PacedLink m_link;
  LinkPacer m_fromHost;
  LinkPacer m_toHost;
  bool m_answering = false;  // the phone's last move was a write
  LinkClock::time_point m_answerNotBefore{};
  // The host bytes of the current transfer: [m_head, m_crossed) have crossed
  // and wait to be taken, [m_crossed, m_filled) are still crossing.
  std::vector<uint8_t> m_transfer;
  size_t m_head = 0;
  size_t m_crossed = 0;
  size_t m_filled = 0;
  bool m_firstFrameWaited = false;  // the transfer's first bytes had to be waited for
  // How the layer below ended while the transfer was being taken: the
  // session ends there once the bytes before it are the phone's.
  Ending m_endAfterTransfer;
};

}  // namespace hxphone
