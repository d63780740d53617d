#include "traced_flash.h"

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <stdexcept>

#include "host/child_process.h"

namespace hxbench {
namespace {

// hxflash flashes a phone whose port appears while its session waits; one
// that is there before is taken for a phone left in the socket. So the phone
// starts once hxflash says it waits, and plugs in shortly after.
constexpr const char* kHxflashWaits = "waiting for the phone to be plugged in";
constexpr auto kHxflashReadyLimit = std::chrono::minutes(2);
constexpr auto kOutputLookStep = std::chrono::milliseconds(20);
constexpr int kTracedPlugDelayMs = 200;
constexpr auto kTracedFlashLimit = std::chrono::minutes(15);
constexpr auto kPhoneExitLimit = std::chrono::minutes(2);
constexpr auto kStraceCheckLimit = std::chrono::seconds(20);

// Whether `program` wrote `text` to its output file within `limit`; false as
// soon as it has ended without.
bool waitForOutput(hxflash::ChildProcess& program, const std::string& output, const std::string& text,
                   std::chrono::steady_clock::duration limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < end) {
    std::ifstream in(output);
    const std::string seen((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (seen.find(text) != std::string::npos) return true;
    if (program.waitFor(kOutputLookStep)) return false;
  }
  return false;
}

}  // namespace

std::string findStrace(const std::string& dir) {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  for (size_t begin = 0; begin <= dirs.size();) {
    const size_t end = std::min(dirs.find(':', begin), dirs.size());
    const std::string candidate = dirs.substr(begin, end - begin) + "/strace";
    begin = end + 1;
    if (candidate.front() != '/' || ::access(candidate.c_str(), X_OK) != 0) continue;
    try {
      hxflash::ChildProcess check({candidate, "-V"}, dir + "/strace-version.txt", dir + "/strace-version.txt");
      const std::optional<int> status = check.waitFor(kStraceCheckLimit);
      if (status && *status == 0) return candidate;
    } catch (const std::exception&) {
    }
  }
  return {};
}

TracedFlash tracedFlash(const std::string& strace, const BenchPackage& package, const PhoneFlashSetup& setup,
                        uint32_t comPort, int round) {
  const std::string tag = std::to_string(round);
  const std::string trace = setup.workDir + "/trace-" + tag;
  const std::string turns = setup.workDir + "/trace-" + tag + ".turns";
  const std::string output = setup.workDir + "/hxflash-" + tag + ".txt";
  // Every kind of call: what the thread waits in, locks and logs counts too.
  // strace writing to a file ignores SIGTERM unless told (-I 2); with it, a
  // run given up on ends, and strace ends hxflash with it.
  hxflash::ChildProcess flash({strace, "-I", "2", "-f", "-qq", "-y", "-s", "4", "-o", trace, "-e", "trace=all",
                               HX_BENCH_HXFLASH, "flash", package.path, "-p", std::to_string(comPort),
                               "--time-scale", std::to_string(setup.timeScale), "--log-dir",
                               setup.workDir + "/hxflash-logs-" + tag, "--history",
                               setup.workDir + "/history-" + tag + ".sqlite3"},
                              output, output);
  if (!waitForOutput(flash, output, kHxflashWaits, kHxflashReadyLimit))
    throw std::runtime_error("round " + tag + ": hxflash under strace did not come to wait for the phone; see " +
                             output);

  PhoneFlashSetup phoneSetup = setup;
  phoneSetup.plugDelayMs = kTracedPlugDelayMs;
  const auto phone = phoneOn(comPort, {"--turns", turns});
  const std::unique_ptr<hxflash::ChildProcess> phoneProcess = startPhoneProcess(package, phoneSetup, *phone);
  const std::optional<int> flashStatus = flash.waitFor(kTracedFlashLimit);
  if (!flashStatus) throw std::runtime_error("hxflash under strace did not finish in time; see " + output);
  const std::optional<int> phoneStatus = phoneProcess->waitFor(kPhoneExitLimit);
  const bool verified = *flashStatus == 0 && phoneStatus == 0 && verifyPhoneNand(package, setup, comPort);
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(phoneFile(setup, comPort, ".nand"), ec);
  if (!verified)
    throw std::runtime_error("round " + tag + ": the traced flash failed (hxflash exit " +
                             std::to_string(*flashStatus) + ", phone exit " +
                             (phoneStatus ? std::to_string(*phoneStatus) : std::string("none")) +
                             ", or NAND not verified); files in " + setup.workDir);
  hxphone::LinkTurnsRead read = hxphone::readLinkTurns(turns);
  if (!read.error.empty()) throw std::runtime_error(read.error);
  if (!setup.keepFiles) std::filesystem::remove(turns, ec);
  return {trace, std::move(read.turns)};
}

}  // namespace hxbench
