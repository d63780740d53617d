// A read-back of one NAND block against any answers: the agent's unit sizes,
// its total, the chunks and their sums. Nothing is written outside the
// destination, whatever total and unit sizes the agent announces.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "answering_link.h"
#include "fuzz_inputs.h"
#include "protocol/agent_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  constexpr uint32_t kBlock = 16384;
  std::vector<uint8_t> destination(kBlock);
  hxfuzz::AnsweringLink phone({data, size});
  hx::readBack(phone, 2 * kBlock, kBlock, hx::kReadBackDataOnly, destination.data(), destination.size());
  return 0;
}
