// hxphone run: plugs a virtual phone in as com<n> and serves the host until
// the last phone is gone (see README.md for the options).
#include <signal.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include "hxphone/command_options.h"
#include "hxphone/faults.h"
#include "hxphone/nand_preload.h"
#include "hxphone/phone_process.h"
#include "hxphone/phone_station.h"
#include "hxphone/subcommand.h"
#include "hxphone/usb_port.h"

namespace hxphone {

namespace {

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
  bool usb = false;
  std::string udc;
  bool verbose = false;
};

void addRunOptions(CLI::App& run, RunArgs& a) {
  run.add_option("--port", a.port, "COM port number n: the phone appears as com<n>")->required();
  addPageSizeOption(run, a.pageSize, "NAND page size: 512 (16 KiB blocks) or 2048 (128 KiB blocks)")
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
  addDumpOption(run, a.dump, "write the NAND here when a phone unplugs (%n: phone number)");
  run.add_option("--record", a.record, "write the JSON record here when a phone unplugs (%n: phone number)");
  run.add_option("--turns", a.turns,
                 "write the link's exchange here when a phone's run ends, one line per turn: "
                 "<steady-clock ns of its first host byte> <host bytes> <phone bytes> (%n: phone number)");
  run.add_option("--state", a.state, "starting NAND: blank, same-version or other-version (needs --package)")
      ->check(CLI::IsMember({"blank", "same-version", "other-version"}));
  addPackageOption(run, a.package, "package whose older firmware a preloaded phone holds");
  run.add_option("--remap", a.remaps, "with --state same-version: D:SPARE, data block D remapped to SPARE")
      ->delimiter(',');
  run.add_option("--counter", a.counters,
                 "with --state same-version: R=N, region R's counter in the info block is N (N - 1 is the "
                 "last spare used, relative to the first FS block)")
      ->delimiter(',');
  run.add_flag("--power-key-latched", a.powerKeyLatched, "the power-key registers already hold their keys");
  run.add_flag("--no-controlling-terminal", a.noControllingTerminal, "do not make the pty this process's terminal");
  run.add_flag("--usb", a.usb,
               "plug in as a USB gadget (configfs, ACM function, ids F055:0001) on a USB device controller; "
               "com<n> names the host's cdc-acm tty (needs root, configfs, libcomposite, usb_f_acm)");
  run.add_option("--udc", a.udc, "with --usb: the USB device controller (a name in /sys/class/udc; "
                                 "default: the first free one), kept for every phone of the run");
  run.add_flag("-v,--verbose", a.verbose, "log every step");
}

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

PacedLink pacedLinkOption(const std::string& text) {
  PacedLinkParse link = parsePacedLink(text);
  if (!link.link) throw CLI::ValidationError("--link", link.error);
  return *link.link;
}

PhoneOptions phoneOptions(const RunArgs& a) {
  PhoneOptions p;
  p.name = "hxphone[com" + std::to_string(a.port) + "]";
  p.geometry = a.pageSize == 512 ? NandGeometry::smallPage(a.blocks) : NandGeometry::largePage(a.blocks);
  p.nandMaker = static_cast<uint16_t>(parseNumber(a.maker, "--maker"));
  const std::string device = a.device.empty() ? (a.pageSize == 512 ? "0x76" : "0xF1") : a.device;
  p.nandDevice = static_cast<uint16_t>(parseNumber(device, "--device"));
  p.chipType = static_cast<uint8_t>(parseNumber(a.chip, "--chip"));
  p.factoryBadBlocks = parseBlockList(a.badBlocks);
  p.failingBlocks = parseBlockList(a.failingBlocks);
  for (const auto& f : a.faults)
    if (std::string why = applyFault(p.faults, f); !why.empty()) throw CLI::ValidationError("--fault", why);
  p.powerKeyLatched = a.powerKeyLatched;
  p.timing.silenceLimit = std::chrono::milliseconds(a.silenceLimitMs);
  if (!a.link.empty()) p.timing.pacedLink = pacedLinkOption(a.link);
  p.verbose = a.verbose;
  return p;
}

// "D:SPARE": data block D remapped to the reserved block SPARE.
PreloadRemap remapOption(const std::string& text) {
  auto colon = text.find(':');
  if (colon == std::string::npos) throw CLI::ValidationError("--remap", "D:SPARE expected, got " + text);
  return PreloadRemap{parseNumber(text.substr(0, colon), "--remap"), parseNumber(text.substr(colon + 1), "--remap")};
}

// "R=N": region R's counter is N.
void applyCounterOption(const std::string& text, OlderFirmware& firmware) {
  auto equals = text.find('=');
  if (equals == std::string::npos) throw CLI::ValidationError("--counter", "R=N expected, got " + text);
  const uint32_t region = parseNumber(text.substr(0, equals), "--counter");
  const uint32_t counter = parseNumber(text.substr(equals + 1), "--counter");
  if (region > 7 || counter > 0xFFFF)
    throw CLI::ValidationError("--counter", "region 0..7 and a counter up to 65535 expected, got " + text);
  firmware.counters[region] = static_cast<uint16_t>(counter);
}

PreloadRequest preloadRequest(const RunArgs& a) {
  if (a.package.empty()) throw CLI::ValidationError("--state", "needs --package");
  PreloadRequest request;
  request.packagePath = a.package;
  request.firmware.sameVersion = a.state == "same-version";
  for (const auto& r : a.remaps) request.firmware.remaps.push_back(remapOption(r));
  for (const auto& c : a.counters) applyCounterOption(c, request.firmware);
  return request;
}

AfterReset afterResetOption(const std::string& text) {
  if (text == "fresh") return AfterReset::Fresh;
  if (text == "reboot") return AfterReset::Reboot;
  return AfterReset::Gone;
}

StationOptions stationOptions(const RunArgs& a) {
  StationOptions s;
  s.phone = phoneOptions(a);
  s.port = a.port;
  s.afterReset = afterResetOption(a.afterReset);
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
    const PreloadRequest request = preloadRequest(a);
    const PhoneOptions phone = s.phone;
    s.initialNand = [phone, request] { return preloadedNand(phone, request); };
    preloadedNand(phone, request);  // refuse a bad request before plugging in
  }
  return s;
}

int exitStatusFor(Outcome outcome) {
  switch (outcome) {
    case Outcome::Reset:
    case Outcome::Stopped: return kExitOk;
    case Outcome::Failed: return kExitRefused;
    default: return kExitOtherEnd;
  }
}

class RunCommand : public Subcommand {
 public:
  explicit RunCommand(CLI::App& app) : Subcommand(app, "run", "plug a virtual phone in and serve the host") {
    addRunOptions(command(), m_args);
  }

  int run() override {
    StationOptions options = stationOptions(m_args);
    ::signal(SIGHUP, SIG_IGN);
    ::signal(SIGPIPE, SIG_IGN);
    if (m_args.usb || !m_args.udc.empty()) return runOnUsb(std::move(options));
    if (options.controllingTerminal && !becomeSessionLeader()) options.controllingTerminal = false;
    PhoneStation station(options);
    return exitStatusFor(runUntilStopped(station));
  }

 private:
  // The phones plug into one USB socket; its gadget is removed however the
  // run ends (the last phone gone, SIGINT or SIGTERM, an error).
  int runOnUsb(StationOptions options) {
    UsbSocket socket(UsbSocketOptions{.port = m_args.port, .portsDir = options.portsDir, .udc = m_args.udc});
    options.controllingTerminal = false;
    options.plugIn = [&socket](unsigned index, const std::atomic<bool>& stopping) {
      return socket.plugIn(index, stopping);
    };
    PhoneStation station(options);
    return exitStatusFor(runUntilStopped(station));
  }


  RunArgs m_args;
};

}  // namespace

std::unique_ptr<Subcommand> makeRunCommand(CLI::App& app) { return std::make_unique<RunCommand>(app); }

}  // namespace hxphone
