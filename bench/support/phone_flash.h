#pragma once
// Flashes virtual phones through the real module, in this process: one
// hxphone process per COM port, all plugged in at once, one FlashRun over the
// ports. The module logs to standard output; meanwhile that goes to a file of
// the working directory, so that the benchmark's own output stays readable.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench_files.h"
#include "host/child_process.h"
#include "download_window.h"
#include "session_notes.h"

namespace hxbench {

struct PhoneFlashSetup {
  std::string workDir;
  std::string module = HX_BENCH_MODULE;
  double timeScale = 0.01;
  // The phones appear after the module has loaded the package and each
  // session has begun waiting (a session first waits for an earlier phone to go).
  int plugDelayMs = 2500;
  bool verify = true;     // check each phone's NAND against the package afterwards
  bool keepFiles = false; // keep the module copy, the dumps and the logs
  // Note each phone's status reports and log lines with their times
  // (FlashedPhone::notes); the module's lines still reach module.log.
  bool noteSessions = false;
  // Each phone's window marks also note the CPU time of this process and
  // all the phones' processes (StepMark::treeCpuSeconds).
  bool markTreeCpu = false;
  // The module clock from the first "Waiting for Reset" report on: the reset
  // countdown lies outside every window, and at clock 1 it lasts 80 s. For a
  // run of one phone (every session's waits follow the one clock).
  std::optional<double> countdownTimeScale;
};

// One phone: its port, the hxphone options beyond the usual ones, and after
// the flash what became of it.
struct FlashedPhone {
  uint32_t comPort = 0;
  std::vector<std::string> phoneArguments;  // e.g. {"--link", "usb-fs", "--record", FILE}
  bool succeeded = false;  // Download returned 1
  int phoneStatus = -1;    // hxphone's exit status (it unplugs after its reset)
  bool verified = false;   // the NAND holds the package
  DownloadWindow window;
  SessionNotes notes;      // when the setup asks for them
};

// Flashes every phone of `phones` at once. The module reads its package once
// in its life and stays loaded, so each call loads its own copy of the module
// file (`round` tells the copies apart). Returns whether every phone was
// flashed (and verified, when asked).
bool flashPhones(const BenchPackage& package, const PhoneFlashSetup& setup, int round,
                 std::vector<std::unique_ptr<FlashedPhone>>& phones);

// A phone for flashPhones on `comPort`.
std::unique_ptr<FlashedPhone> phoneOn(uint32_t comPort, std::vector<std::string> phoneArguments = {});

// The pieces of flashPhones for a benchmark whose host is another program
// (hxflash run under a tracer, say): the phone's hxphone process, which
// appears `setup.plugDelayMs` after it starts and dumps its NAND when it
// unplugs (when `setup.verify`); the check of that dump against the package;
// and the files of the phone's port in the working directory (`what`: ".nand",
// "-phone.log", "-verify.txt").
std::unique_ptr<hxflash::ChildProcess> startPhoneProcess(const BenchPackage& package, const PhoneFlashSetup& setup,
                                                         const FlashedPhone& phone);
bool verifyPhoneNand(const BenchPackage& package, const PhoneFlashSetup& setup, uint32_t comPort);
std::string phoneFile(const PhoneFlashSetup& setup, uint32_t comPort, const char* what);

}  // namespace hxbench
