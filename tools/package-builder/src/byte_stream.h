#pragma once
// The deterministic byte generator behind every image byte: xorshift64*
// seeded through splitmix64 from the package seed and a stream number, so
// each part of a package has its own stream and the same recipe gives the same
// bytes on every platform (words are stored little-endian).
#include <cstddef>
#include <cstdint>

namespace pkgbuild::detail {

// Stream numbers of the parts of a package.
enum StreamId : uint64_t {
  kBootloaderStream = 1,
  kExtBootloaderStream = 2,
  kImageTableStream = 3,
  kEntryStreamBase = 0x100,     // + entry index: image entries
  kFsStreamBase = 0x10000,      // + FS recipe index: FS data blocks
  kSpareStreamFlag = 1ull << 40 // | a stream number: the ECC bytes of that part's spares
};

class ByteStream {
 public:
  ByteStream(uint64_t seed, uint64_t stream);
  uint64_t next();
  // Fills n bytes, 8 at a time.
  void fill(uint8_t* dst, size_t n);

 private:
  uint64_t state_;
};

}  // namespace pkgbuild::detail
