#pragma once
// The phone's end of the link: reads what the host sends and writes the
// phone's answers over one file descriptor (a pty master or a socket).
//
// Every read waits at most the silence limit (the host has gone quiet) and
// wakes when the owner stops the phone. A hang-up or end of file means the
// host has gone, except before the host's first byte: a pty whose slave is
// not open yet (the host has not opened the port) reads as a hang-up too.
// A paced link (a USB full-speed port) moves the bytes of each direction a
// frame at a time at its rate and starts each answer a turnaround after the
// request. The slow-link fault throttles both directions and adds a latency
// at each turnaround; the unplug-after-bytes fault and the in-step faults (an unplug
// or line noise a number of bytes into a step) fire here. When given a
// LinkTurns, the port notes there every host byte it takes and every phone
// byte it puts on the link.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hxphone/faults.h"
#include "hxphone/link_pacer.h"
#include "hxphone/link_turns.h"
#include "hxphone/session_end.h"

namespace hxphone {

struct PortTiming {
  std::chrono::milliseconds silenceLimit{60000};  // longest wait for the host's next byte
  std::optional<PacedLink> pacedLink;              // none: as fast as the descriptor goes
};

class PhonePort {
 public:
  // fd: the link; stopFd: becomes readable when the phone must stop (-1: none);
  // turns: where the exchange is noted turn by turn (nullptr: nowhere).
  PhonePort(int fd, int stopFd, PortTiming timing, const FaultPlan& faults, LinkTurns* turns = nullptr);

  // Typed reads of host bytes (big-endian). `what` names the field when the
  // session ends waiting for it.
  Ending readU8(uint8_t* value, const char* what);
  Ending readU16(uint16_t* value, const char* what);
  Ending readU32(uint32_t* value, const char* what);
  Ending readBytes(uint8_t* dest, size_t n, const char* what);

  // Reads one byte waiting as long as it takes (the phone waiting to be
  // connected); ends only with a byte, the host gone, or a stop.
  Ending readU8Patiently(uint8_t* value);

  // Reads and checks one field: a different value is a protocol violation.
  Ending expectU8(uint8_t expected, const char* what);
  Ending expectU32(uint32_t expected, const char* what);

  Ending writeU8(uint8_t v);
  Ending writeU16(uint16_t v);
  Ending writeU32(uint32_t v);
  Ending writeBytes(const uint8_t* bytes, size_t n);
  // A byte and a status in one write: 0xA5 and 3041 for a bad block.
  Ending writeByteAndU32(uint8_t b, uint32_t v);

  bool stopRequested() const;

  // A step begins for the `occurrence`-th time: arms the plan's in-step
  // faults of its first run (an unplug may strike at once).
  Ending stepBegins(const std::string& step, uint32_t occurrence);
  // When an in-step fault struck, if one did.
  std::optional<std::chrono::steady_clock::time_point> inStepFaultStruck() const { return m_inStepStruck; }

 private:
  enum class Direction { None, FromHost, ToHost };
  Ending fill(std::optional<std::chrono::steady_clock::time_point> deadline, const char* what, bool* filled);
  Ending readAvailable(const char* what, bool waited, bool* got);
  Ending waitReadable(std::optional<std::chrono::steady_clock::time_point> deadline, bool* ready);
  Ending take(size_t n);
  void turnaround(Direction to);
  void throttle(size_t n);
  void paceArrival(size_t n, bool waited);
  Ending sendPiece(const uint8_t* bytes, size_t n, std::chrono::steady_clock::time_point deadline);
  long writeSome(const uint8_t* bytes, size_t n);
  void noiseOnBuffered();
  Ending unplugWhenDue();
  void strike();

  int m_fd;
  int m_stopFd;
  PortTiming m_timing;
  const FaultPlan& m_faults;
  LinkTurns* m_turns;
  std::vector<uint8_t> m_buffer;
  size_t m_head = 0;
  size_t m_tail = 0;
  uint64_t m_received = 0;
  uint64_t m_sent = 0;
  // Armed in-step faults, as indexes of host bytes, phone bytes, or both.
  std::optional<uint64_t> m_noiseInAt, m_noiseOutAt, m_unplugAt;
  std::optional<std::chrono::steady_clock::time_point> m_inStepStruck;
  bool m_hostSeen = false;
  bool m_hostSending = false;        // the last read brought bytes, and no answer since
  unsigned m_readsSinceWait = 0;
  bool m_isSocket = true;
  Direction m_direction = Direction::None;
  std::chrono::steady_clock::time_point m_linkFreeAt{};
  // The paced link's two directions, and when the next answer may start.
  std::optional<LinkPacer> m_fromHost, m_toHost;
  std::chrono::steady_clock::time_point m_answerNotBefore{};
};

}  // namespace hxphone
