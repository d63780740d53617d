#pragma once
// A fake bottom of the phone's link for the layer tests: host bytes handed
// out in the pieces the test scripts (each piece as one arrival), nothing
// once they run out (the deadline passed) or the end the test scripts after
// them, and every write recorded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <optional>
#include <string>
#include <vector>

#include "hxphone/byte_port.h"

namespace hxphone::test {

class ScriptedPort : public BytePort {
 public:
  // Host bytes arriving together; `waited`: the phone had to wait for them.
  void arrive(std::vector<uint8_t> bytes, bool waited = true) { m_pieces.push_back({std::move(bytes), waited}); }
  // Once the pieces have run out, every read ends the session so (the host hung up, say).
  void endAfterPieces(SessionEnd end) { m_end = std::move(end); }

  Ending read(std::span<uint8_t> into, ReadDeadline, const char*, Arrival* arrival) override {
    readSizes.push_back(into.size());
    *arrival = {};
    if (m_pieces.empty()) return m_end ? Ending(*m_end) : kGoOn;
    Piece& piece = m_pieces.front();
    arrival->count = std::min(into.size(), piece.bytes.size());
    arrival->waited = piece.waited;
    std::copy_n(piece.bytes.begin(), arrival->count, into.begin());
    piece.bytes.erase(piece.bytes.begin(), piece.bytes.begin() + static_cast<std::ptrdiff_t>(arrival->count));
    piece.waited = false;
    if (piece.bytes.empty()) m_pieces.pop_front();
    arrivals.push_back(arrival->count);
    return kGoOn;
  }

  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point) override {
    written.insert(written.end(), bytes.begin(), bytes.end());
    writes.push_back(bytes.size());
    return kGoOn;
  }

  std::vector<size_t> readSizes;  // how much each read asked for
  std::vector<size_t> arrivals;   // how much each read that brought bytes brought
  std::vector<uint8_t> written;   // every byte written, in order
  std::vector<size_t> writes;     // the size of each write

 private:
  struct Piece {
    std::vector<uint8_t> bytes;
    bool waited;
  };
  std::deque<Piece> m_pieces;
  std::optional<SessionEnd> m_end;
};

}  // namespace hxphone::test
