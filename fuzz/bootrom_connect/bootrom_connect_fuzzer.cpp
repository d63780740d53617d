// The BootROM connection against any answers: handshake, watchdog, power key,
// both agent images and the jump. No crash, no read out of bounds, no wait
// past its bound.
#include <cstddef>
#include <cstdint>

#include "answering_link.h"
#include "fuzz_inputs.h"
#include "protocol/bootrom.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  const hx::AgentImages& agent = hxfuzz::hostInputs().images.agent;
  hxfuzz::AnsweringLink phone({data, size});
  hx::connectBootRom(phone, agent.da1, agent.da2, hxfuzz::quietReport());
  return 0;
}
