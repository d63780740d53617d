// The FS image download against any answers: the phone's ROM information and
// info blocks read back from its NAND, format statuses, block-write answers.
#include <cstddef>
#include <cstdint>

#include "answering_link.h"
#include "download/fs_writer.h"
#include "fuzz_inputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  const hxfuzz::HostInputs& in = hxfuzz::hostInputs();
  hxfuzz::AnsweringLink phone({data, size});
  hx::writeFsImage(in.package.fsImages[0], phone, in.fsAreaStart, in.fsAreaLength, hxfuzz::quietReport());
  return 0;
}
