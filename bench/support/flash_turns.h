#pragma once
// A phone flashed through the real module with its link's turns noted
// (hxphone run --turns), and the turns of a span of that flash.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "bench_files.h"
#include "hxphone/link_turns.h"
#include "phone_flash.h"

namespace hxbench {

struct TurnsFlash {
  std::unique_ptr<FlashedPhone> phone;     // as flashPhones left it: its window, its notes
  std::vector<hxphone::LinkTurn> turns;    // every turn of its link
};

// Flashes one phone on `comPort` (with `phoneArguments` beyond --turns) as
// flash `flashNumber` of the working directory. Throws when the flash fails,
// its NAND does not verify or its turns cannot be read.
TurnsFlash flashNotingTurns(const BenchPackage& package, const PhoneFlashSetup& setup, int flashNumber,
                            uint32_t comPort, const std::vector<std::string>& phoneArguments = {});

// The turns that began from `fromNs` to `toNs` (steady-clock nanoseconds),
// with their bytes each way.
struct SpanTurns {
  std::vector<hxphone::LinkTurn> turns;
  uint64_t hostBytes = 0;
  uint64_t phoneBytes = 0;
  size_t answered = 0;  // turns with an answer

  double mibMoved() const { return mib(hostBytes + phoneBytes); }
};
SpanTurns turnsBetween(const std::vector<hxphone::LinkTurn>& turns, int64_t fromNs, int64_t toNs);

// A time of this process's steady clock as the turns give theirs.
int64_t steadyNs(std::chrono::steady_clock::time_point t);

}  // namespace hxbench
