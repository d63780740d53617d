#include "hxphone/link_turns.h"

#include <charconv>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <limits>

namespace hxphone {

namespace {
constexpr const char* kHeader = "# steady-clock-ns host-bytes phone-bytes";

int64_t nanoseconds(LinkTurns::Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

// One number of a line, and the single space after it unless it is the last.
template <typename Number>
bool parseField(const char*& at, const char* end, Number& value, bool last) {
  const auto [next, ec] = std::from_chars(at, end, value);
  if (ec != std::errc() || next == at) return false;
  at = next;
  if (last) return at == end;
  if (at == end || *at != ' ') return false;
  ++at;
  return true;
}

// "<ns> <host-bytes> <phone-bytes>", unsigned decimal numbers and nothing else.
bool parseTurn(const std::string& line, LinkTurn& turn) {
  const char* at = line.data();
  const char* end = at + line.size();
  uint64_t ns = 0;
  if (!parseField(at, end, ns, false) || ns > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return false;
  turn.startNs = static_cast<int64_t>(ns);
  return parseField(at, end, turn.hostBytes, false) && parseField(at, end, turn.phoneBytes, true);
}
}  // namespace

void LinkTurns::begin(Clock::time_point now) { m_turns.push_back(LinkTurn{.startNs = nanoseconds(now)}); }

void LinkTurns::hostBytesTaken(size_t n, Clock::time_point now) {
  if (n == 0) return;
  if (m_turns.empty() || m_turns.back().phoneBytes > 0) begin(now);
  m_turns.back().hostBytes += n;
}

void LinkTurns::phoneBytesSent(size_t n, Clock::time_point now) {
  if (n == 0) return;
  if (m_turns.empty()) begin(now);
  m_turns.back().phoneBytes += n;
}

bool LinkTurns::writeFile(const std::string& path) const {
  std::FILE* out = std::fopen(path.c_str(), "w");
  if (!out) return false;
  bool ok = std::fprintf(out, "%s\n", kHeader) > 0;
  for (const LinkTurn& t : m_turns)
    ok = ok && std::fprintf(out, "%" PRId64 " %" PRIu64 " %" PRIu64 "\n", t.startNs, t.hostBytes, t.phoneBytes) > 0;
  return std::fclose(out) == 0 && ok;
}

LinkTurnsRead readLinkTurns(const std::string& path) {
  LinkTurnsRead read;
  std::ifstream in(path);
  if (!in) {
    read.error = "cannot open " + path;
    return read;
  }
  std::string line;
  for (size_t number = 1; std::getline(in, line); ++number) {
    if (line.empty() || line.front() == '#') continue;
    LinkTurn turn;
    if (!parseTurn(line, turn)) {
      read.error = path + ":" + std::to_string(number) + ": not a turn (<ns> <host-bytes> <phone-bytes>): " + line;
      read.turns.clear();
      return read;
    }
    read.turns.push_back(turn);
  }
  return read;
}

}  // namespace hxphone
