// The download agent's connection against any answers: ready byte, version,
// chip, configuration, both device tables, the flash report and the scan.
#include <cstddef>
#include <cstdint>

#include "answering_link.h"
#include "fuzz_inputs.h"
#include "protocol/agent_commands.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  const hx::AgentImages& agent = hxfuzz::hostInputs().images.agent;
  hxfuzz::AnsweringLink phone({data, size});
  hx::connectAgent(phone, agent.norTable, agent.nandTable, hxfuzz::quietReport());
  return 0;
}
