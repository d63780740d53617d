#include "byte_stream.h"

#include <bit>
#include <cstring>

namespace pkgbuild::detail {
namespace {

uint64_t splitmix64(uint64_t x) {
  x += 0x9E3779B97F4A7C15ull;
  x = (x ^ (x >> 30)) * 0xBF58476D1CE4E5B9ull;
  x = (x ^ (x >> 27)) * 0x94D049BB133111EBull;
  return x ^ (x >> 31);
}

uint64_t toLittleEndian(uint64_t v) {
  if constexpr (std::endian::native == std::endian::little) {
    return v;
  } else {
    uint64_t r = 0;
    for (int i = 0; i < 8; ++i) r |= ((v >> (8 * i)) & 0xFF) << (8 * (7 - i));
    return r;
  }
}

}  // namespace

ByteStream::ByteStream(uint64_t seed, uint64_t stream)
    : state_(splitmix64(seed ^ splitmix64(stream))) {
  if (state_ == 0) state_ = 0x2545F4914F6CDD1Dull;
}

uint64_t ByteStream::next() {
  state_ ^= state_ >> 12;
  state_ ^= state_ << 25;
  state_ ^= state_ >> 27;
  return state_ * 0x2545F4914F6CDD1Dull;
}

void ByteStream::fill(uint8_t* dst, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    const uint64_t v = toLittleEndian(next());
    std::memcpy(dst + i, &v, 8);
  }
  if (i < n) {
    const uint64_t v = toLittleEndian(next());
    std::memcpy(dst + i, &v, n - i);
  }
}

}  // namespace pkgbuild::detail
