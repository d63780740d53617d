// hxphone: a virtual HX9120 phone behind a pseudo-terminal.
//
//   hxphone run --port 41 [options]      plug a phone in as com41 and serve one download
//   hxphone verify --package P --dump D  check a NAND dump against a package
//   hxphone faults                       list the faults
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <fmt/core.h>
#include <thread>

#include "hxphone/faults.h"
#include "hxphone/nand_preload.h"
#include "hxphone/phone_station.h"
#include "hxphone/verify.h"

namespace {

using namespace hxphone;

uint32_t parseNumber(const std::string& text, const char* what) {
  try {
    size_t used = 0;
    unsigned long long v = std::stoull(text, &used, 0);
    if (used != text.size() || v > 0xFFFFFFFFull) throw std::invalid_argument(text);
    return static_cast<uint32_t>(v);
  } catch (const std::exception&) {
    throw CLI::ValidationError(what, "not a number: " + text);
  }
}

std::vector<uint32_t> parseBlockList(const std::vector<std::string>& items) {
  std::vector<uint32_t> blocks;
  for (const auto& item : items) blocks.push_back(parseNumber(item, "block list"));
  return blocks;
}

// The pty becomes this process's controlling terminal, which needs a session
// of its own. A process that already leads a process group (any shell job)
// cannot start one, so it forks: the child runs the phone, the parent passes
// on SIGINT/SIGTERM and exits with the child's status.
pid_t g_child = -1;
void forwardSignal(int sig) {
  if (g_child > 0) ::kill(g_child, sig);
}

bool becomeSessionLeader() {
  if (::setsid() >= 0) return true;
  g_child = ::fork();
  if (g_child < 0) return false;
  if (g_child == 0) return ::setsid() >= 0;
  struct sigaction sa {};
  sa.sa_handler = forwardSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  int status = 0;
  while (::waitpid(g_child, &status, 0) < 0 && errno == EINTR) {
  }
  std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

struct RunArgs {
  unsigned port = 41;
  uint32_t pageSize = 2048;
  uint32_t blocks = 1024;
  std::string maker = "0xEC";
  std::string device;
  std::string chip = "0x20";
  std::vector<std::string> badBlocks;
  std::vector<std::string> failingBlocks;
  std::vector<std::string> faults;
  std::string afterReset = "gone";
  unsigned plugDelayMs = 0;
  unsigned replugDelayMs = 500;
  unsigned resetDelayMs = 200;
  unsigned rebootVisibleMs = 300;
  unsigned phones = 0;
  unsigned silenceLimitMs = 60000;
  std::string link;
  std::string dump;
  std::string record;
  std::string turns;
  std::string state = "blank";
  std::string package;
  std::vector<std::string> remaps;
  std::vector<std::string> counters;
  bool powerKeyLatched = false;
  bool noControllingTerminal = false;
  bool verbose = false;
};

void addRunOptions(CLI::App& run, RunArgs& a) {
  run.add_option("--port", a.port, "COM port number n: the phone appears as com<n>")->required();
  run.add_option("--page-size", a.pageSize, "NAND page size: 512 (16 KiB blocks) or 2048 (128 KiB blocks)")
      ->check(CLI::IsMember({512, 2048}));
  run.add_option("--blocks", a.blocks, "NAND blocks")->check(CLI::Range(16u, 1u << 20));
  run.add_option("--maker", a.maker, "NAND maker code the phone matches in the NAND table");
  run.add_option("--device", a.device, "NAND device code (default 0xF1 for 2048-byte pages, 0x76 for 512)");
  run.add_option("--chip", a.chip, "baseband chip type the agent reports");
  run.add_option("--bad-blocks", a.badBlocks, "factory-bad blocks")->delimiter(',');
  run.add_option("--failing-blocks", a.failingBlocks, "blocks that fail when programmed")->delimiter(',');
  run.add_option("--fault", a.faults, "a fault, NAME or NAME=VALUE (see `hxphone faults`)");
  run.add_option("--after-reset", a.afterReset, "after the watchdog command: gone, fresh or reboot")
      ->check(CLI::IsMember({"gone", "fresh", "reboot"}));
  run.add_option("--plug-delay-ms", a.plugDelayMs, "delay before the first phone appears");
  run.add_option("--replug-delay-ms", a.replugDelayMs, "delay before a fresh or rebooted phone appears");
  run.add_option("--reset-delay-ms", a.resetDelayMs, "after the watchdog command: time until the phone unplugs");
  run.add_option("--reboot-visible-ms", a.rebootVisibleMs, "how long a rebooted phone's port stays");
  run.add_option("--phones", a.phones, "with --after-reset fresh: phones in all (0: no limit)");
  run.add_option("--silence-limit-ms", a.silenceLimitMs, "longest wait for the host in a conversation");
  run.add_option("--link", a.link,
                 "pace the link like a USB full-speed serial port: usb-fs[:BPS[:TURNAROUND_US]] "
                 "(default 1000000 bytes per second each way, 1000 us before each answer)");
  run.add_option("--dump", a.dump, "write the NAND here when a phone unplugs (%n: phone number)");
  run.add_option("--record", a.record, "write the JSON record here when a phone unplugs (%n: phone number)");
  run.add_option("--turns", a.turns,
                 "write the link's exchange here when a phone's run ends, one line per turn: "
                 "<steady-clock ns of its first host byte> <host bytes> <phone bytes> (%n: phone number)");
  run.add_option("--state", a.state, "starting NAND: blank, same-version or other-version (needs --package)")
      ->check(CLI::IsMember({"blank", "same-version", "other-version"}));
  run.add_option("--package", a.package, "package whose older firmware a preloaded phone holds");
  run.add_option("--remap", a.remaps, "with --state same-version: D:SPARE, data block D remapped to SPARE")
      ->delimiter(',');
  run.add_option("--counter", a.counters,
                 "with --state same-version: R=N, region R's counter in the info block is N (N - 1 is the "
                 "last spare used, relative to the first FS block)")
      ->delimiter(',');
  run.add_flag("--power-key-latched", a.powerKeyLatched, "the power-key registers already hold their keys");
  run.add_flag("--no-controlling-terminal", a.noControllingTerminal, "do not make the pty this process's terminal");
  run.add_flag("-v,--verbose", a.verbose, "log every step");
}

StationOptions stationOptions(const RunArgs& a) {
  StationOptions s;
  PhoneOptions& p = s.phone;
  p.name = "hxphone[com" + std::to_string(a.port) + "]";
  p.geometry = a.pageSize == 512 ? NandGeometry::smallPage(a.blocks) : NandGeometry::largePage(a.blocks);
  p.nandMaker = static_cast<uint16_t>(parseNumber(a.maker, "--maker"));
  p.nandDevice = static_cast<uint16_t>(parseNumber(a.device.empty() ? (a.pageSize == 512 ? "0x76" : "0xF1") : a.device, "--device"));
  p.chipType = static_cast<uint8_t>(parseNumber(a.chip, "--chip"));
  p.factoryBadBlocks = parseBlockList(a.badBlocks);
  p.failingBlocks = parseBlockList(a.failingBlocks);
  for (const auto& f : a.faults)
    if (std::string why = applyFault(p.faults, f); !why.empty()) throw CLI::ValidationError("--fault", why);
  p.powerKeyLatched = a.powerKeyLatched;
  p.timing.silenceLimit = std::chrono::milliseconds(a.silenceLimitMs);
  if (!a.link.empty()) {
    PacedLinkParse link = parsePacedLink(a.link);
    if (!link.link) throw CLI::ValidationError("--link", link.error);
    p.timing.pacedLink = link.link;
  }
  p.verbose = a.verbose;
  s.port = a.port;
  s.afterReset = a.afterReset == "fresh" ? AfterReset::Fresh : a.afterReset == "reboot" ? AfterReset::Reboot : AfterReset::Gone;
  s.plugDelay = std::chrono::milliseconds(a.plugDelayMs);
  s.replugDelay = std::chrono::milliseconds(a.replugDelayMs);
  s.resetDelay = std::chrono::milliseconds(a.resetDelayMs);
  s.rebootVisible = std::chrono::milliseconds(a.rebootVisibleMs);
  s.phones = a.phones;
  s.controllingTerminal = !a.noControllingTerminal;
  s.dumpPath = a.dump;
  s.recordPath = a.record;
  s.turnsPath = a.turns;
  s.announce = [](const std::string& line) {
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
  };
  if (a.state != "blank") {
    if (a.package.empty()) throw CLI::ValidationError("--state", "needs --package");
    PreloadRequest request;
    request.packagePath = a.package;
    request.firmware.sameVersion = a.state == "same-version";
    for (const auto& r : a.remaps) {
      auto colon = r.find(':');
      if (colon == std::string::npos) throw CLI::ValidationError("--remap", "D:SPARE expected, got " + r);
      request.firmware.remaps.push_back(
          PreloadRemap{parseNumber(r.substr(0, colon), "--remap"), parseNumber(r.substr(colon + 1), "--remap")});
    }
    for (const auto& c : a.counters) {
      auto equals = c.find('=');
      if (equals == std::string::npos) throw CLI::ValidationError("--counter", "R=N expected, got " + c);
      const uint32_t region = parseNumber(c.substr(0, equals), "--counter");
      const uint32_t counter = parseNumber(c.substr(equals + 1), "--counter");
      if (region > 7 || counter > 0xFFFF)
        throw CLI::ValidationError("--counter", "region 0..7 and a counter up to 65535 expected, got " + c);
      request.firmware.counters[region] = static_cast<uint16_t>(counter);
    }
    PhoneOptions phone = p;
    s.initialNand = [phone, request] { return preloadedNand(phone, request); };
    preloadedNand(phone, request);  // refuse a bad request before plugging in
  }
  return s;
}

int exitCodeFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::Reset:
    case Outcome::Stopped: return 0;
    case Outcome::Failed: return 1;
    default: return 3;
  }
}

int runPhone(const RunArgs& args) {
  StationOptions options = stationOptions(args);
  ::signal(SIGHUP, SIG_IGN);
  ::signal(SIGPIPE, SIG_IGN);
  if (options.controllingTerminal && !becomeSessionLeader()) options.controllingTerminal = false;
  // SIGINT and SIGTERM stop the phone: a thread waits for them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  PhoneStation station(options);
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (sig == SIGINT || sig == SIGTERM) station.stop();
  });
  Outcome outcome = station.run();
  // Release the waiter: it only ever stops the station.
  ::kill(::getpid(), SIGTERM);
  waiter.join();
  return exitCodeFor(outcome);
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"hxphone: a virtual HX9120 phone behind a pseudo-terminal"};
  app.require_subcommand(1);
  RunArgs runArgs;
  CLI::App* run = app.add_subcommand("run", "plug a virtual phone in and serve the host");
  addRunOptions(*run, runArgs);
  VerifyRequest verifyArgs;
  bool verifyJson = false;
  CLI::App* verify = app.add_subcommand("verify", "check a NAND dump against a package");
  verify->add_option("--package", verifyArgs.packagePath, "the package (its .desc.json beside it)")->required();
  verify->add_option("--dump", verifyArgs.dumpPath, "the NAND dump")->required();
  verify->add_option("--page-size", verifyArgs.pageSize, "the dump's page size (default: the package's)");
  verify->add_flag("--json", verifyJson, "print the findings as JSON");
  CLI::App* faults = app.add_subcommand("faults", "list the faults and step names");
  CLI11_PARSE(app, argc, argv);
  try {
    if (*run) return runPhone(runArgs);
    if (*verify) {
      VerifyReport report = verifyDump(verifyArgs);
      std::printf("%s", verifyJson ? (report.toJson().dump(2) + "\n").c_str() : report.text().c_str());
      return report.ok() ? 0 : 1;
    }
    if (*faults) {
      for (const auto& [name, text] : faultDescriptions()) fmt::print("{:<30} {}\n", name, text);
      fmt::print("\nsteps:");
      for (auto step : kStepNames) fmt::print(" {}", step);
      fmt::print("\n");
    }
    return 0;
  } catch (const CLI::ValidationError& e) {
    std::fprintf(stderr, "hxphone: %s\n", e.what());
    return 2;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hxphone: %s\n", e.what());
    return 2;
  }
}
