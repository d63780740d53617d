#pragma once
// A flash by the `hxflash flash` program run under `strace -f -y`, against a
// fresh phone that notes its link's turns: the host whole, as a station runs
// it, every one of its system calls in the trace.
#include <string>
#include <vector>

#include "bench_files.h"
#include "hxphone/link_turns.h"
#include "phone_flash.h"

namespace hxbench {

// The strace program on PATH (child processes are started by file name), or
// empty when there is none that runs; `dir` takes its version output.
std::string findStrace(const std::string& dir);

struct TracedFlash {
  std::string trace;                      // the trace file
  std::vector<hxphone::LinkTurn> turns;   // every turn of the phone's link
};

// Runs hxflash flash on COM`comPort` under `strace` and flashes a fresh
// phone; throws when the flash fails or its NAND does not verify.
TracedFlash tracedFlash(const std::string& strace, const BenchPackage& package, const PhoneFlashSetup& setup,
                        uint32_t comPort, int round);

}  // namespace hxbench
