// The bootloader write against any answers: headers, packets and their sums.
#include <cstddef>
#include <cstdint>

#include "answering_link.h"
#include "fuzz_inputs.h"
#include "protocol/bootloader_upload.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  const hxfuzz::HostInputs& in = hxfuzz::hostInputs();
  hxfuzz::AnsweringLink phone({data, size});
  hx::writeBootloader(phone, in.package.bootloader, in.package.extBootloader, in.images.bootloaderInfo,
                      hxfuzz::quietReport());
  return 0;
}
