#pragma once
// The baseline: how fast the same kind of pty pair moves bytes from the
// slave side (where the module writes) to the master side (where the phone
// reads) when nothing else happens on it.
#include <cstddef>
#include <cstdint>

namespace hxbench {

struct RawPtyRun {
  double seconds = 0;        // first write until the reader has every byte
  double writerCpuSeconds = 0;  // user + system CPU of the writing process
  bool ok = false;
};

// Writes `bytes` in `chunk`-byte writes to a raw pty slave while a forked
// child reads the master in large reads, discarding the bytes.
RawPtyRun measureRawPty(uint64_t bytes, size_t chunk);

}  // namespace hxbench
