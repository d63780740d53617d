#pragma once
// The transport: the phone's end of the link over one file descriptor (a pty
// master or a socket). It only moves bytes: pace, faults and the record of
// the turns are layers above it (see SessionLink).
//
// A read waits at most until its deadline and wakes when the owner stops the
// phone. A hang-up or end of file means the host has gone, except before the
// host's first byte: a pty whose slave is not open yet (the host has not
// opened the port) reads as a hang-up too. A write that the host does not
// take by its deadline means the host stopped reading.
#include <cstddef>
#include <cstdint>

#include "hxphone/byte_port.h"
#include "hxphone/stop_signal.h"

namespace hxphone {

class DescriptorPort : public BytePort {
 public:
  // stop: raised when the phone must stop (nullptr: never).
  DescriptorPort(int fd, const StopSignal* stop);

  Ending read(std::span<uint8_t> into, ReadDeadline deadline, const char* what, Arrival* arrival) override;
  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point deadline) override;

 private:
  Ending readAvailable(std::span<uint8_t> into, const char* what, size_t* got);
  Ending waitReadable(ReadDeadline deadline, bool* ready);
  Ending waitWritable(LinkClock::time_point deadline);
  long writeSome(const uint8_t* bytes, size_t n);
  bool stopRequested() const { return m_stop && m_stop->requested(); }
  int stopFd() const { return m_stop ? m_stop->fd() : -1; }

  int m_fd;
  const StopSignal* m_stop;
  bool m_hostSeen = false;
  bool m_hostSending = false;  // the last read brought bytes, and no answer since
  unsigned m_readsSinceWait = 0;
  bool m_isSocket = true;
};

}  // namespace hxphone
