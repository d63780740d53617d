#pragma once
// The link's exchange turn by turn: for each turn, the host bytes the phone
// took before it answered, then the bytes of its answer, and when the turn's
// first host byte was taken. A new turn begins when the phone takes host
// bytes after having sent some: the host has spoken again. A turn that the
// phone never answered (the last one, say) has no phone bytes.
//
// Times are std::chrono::steady_clock in nanoseconds; on Linux that clock is
// CLOCK_MONOTONIC, so another process can set them beside its own marks.
//
// The file (`hxphone run --turns FILE`) is text: a `#` header line, then one
// line per turn, `<ns> <host-bytes> <phone-bytes>`.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace hxphone {

struct LinkTurn {
  int64_t startNs = 0;  // first host byte taken (first phone byte, for a turn without host bytes)
  uint64_t hostBytes = 0;
  uint64_t phoneBytes = 0;

  bool operator==(const LinkTurn&) const = default;
};

class LinkTurns {
 public:
  using Clock = std::chrono::steady_clock;

  // n host bytes taken by the phone at `now`.
  void hostBytesTaken(size_t n, Clock::time_point now);
  // n phone bytes put on the link at `now`.
  void phoneBytesSent(size_t n, Clock::time_point now);

  const std::vector<LinkTurn>& turns() const { return m_turns; }

  // Writes the file; false when it cannot be written.
  bool writeFile(const std::string& path) const;

 private:
  void begin(Clock::time_point now);

  std::vector<LinkTurn> m_turns;
};

// The turns of a file written by LinkTurns::writeFile, or why it is not one.
struct LinkTurnsRead {
  std::vector<LinkTurn> turns;
  std::string error;  // empty when read
};
LinkTurnsRead readLinkTurns(const std::string& path);

}  // namespace hxphone
