#pragma once
// A pseudo-terminal pair whose slave is raw, as a serial port the host has
// opened: the master is the phone's end, the slave the host's. Either end may
// be closed early (a peer that takes one end over); both close with the object.
namespace hxbench {

struct RawPty {
  int master = -1;
  int slave = -1;

  RawPty();
  ~RawPty();
  RawPty(const RawPty&) = delete;
  RawPty& operator=(const RawPty&) = delete;

  bool open() const { return master >= 0 && slave >= 0; }
  void closeMaster();
  void closeSlave();
};

}  // namespace hxbench
