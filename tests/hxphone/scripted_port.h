#pragma once
// A fake bottom of the phone's link for the layer tests: host bytes handed
// out in the pieces the test scripts (each piece as one arrival), nothing
// once they run out (the deadline passed), and every write recorded.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

#include "hxphone/byte_port.h"

namespace hxphone::test {

class ScriptedPort : public BytePort {
 public:
  // Host bytes arriving together; `waited`: the phone had to wait for them.
  void arrive(std::vector<uint8_t> bytes, bool waited = true) { m_pieces.push_back({std::move(bytes), waited}); }

  Ending read(std::span<uint8_t> into, ReadDeadline, const char*, Arrival* arrival) override {
    readSizes.push_back(into.size());
    *arrival = {};
    if (m_pieces.empty()) return kGoOn;
    Piece& piece = m_pieces.front();
    arrival->count = std::min(into.size(), piece.bytes.size());
    arrival->waited = piece.waited;
    std::copy_n(piece.bytes.begin(), arrival->count, into.begin());
    piece.bytes.erase(piece.bytes.begin(), piece.bytes.begin() + static_cast<std::ptrdiff_t>(arrival->count));
    piece.waited = false;
    if (piece.bytes.empty()) m_pieces.pop_front();
    return kGoOn;
  }

  Ending write(std::span<const uint8_t> bytes, LinkClock::time_point) override {
    written.insert(written.end(), bytes.begin(), bytes.end());
    writes.push_back(bytes.size());
    return kGoOn;
  }

  std::vector<size_t> readSizes;  // how much each read asked for
  std::vector<uint8_t> written;   // every byte written, in order
  std::vector<size_t> writes;     // the size of each write

 private:
  struct Piece {
    std::vector<uint8_t> bytes;
    bool waited;
  };
  std::deque<Piece> m_pieces;
};

}  // namespace hxphone::test
