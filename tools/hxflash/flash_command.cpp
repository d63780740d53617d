// hxflash flash: flashes phones on several COM ports at once through the
// module's exports, exactly as the station's host application does.
//
// Before any session starts it refuses, with one sentence and exit status 2,
// what waiting cannot fix: a COM port given twice, a ports directory the
// module will not use, a port another run serves, an entry that names no
// character device, a device this user may not open, a package the module
// would refuse. A port whose phone is not plugged in yet waits for it.
//
// Ctrl-C: the first stops every wait for a phone and lets transfers under way
// finish (exit 130 then); the second quits at once.
//
// The module's log goes to module.log in the run's log folder, every port's
// reports to com<n>.log; the user sees a live view of the ports on a
// terminal, time-stamped lines otherwise (station_output.h).
//
// --loop: station mode. Each port flashes the next phone whenever one comes,
// until Ctrl-C (or SIGTERM); the summary counts the phones of every port.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <mutex>
#include <set>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "exit_status.h"
#include "flash_refusals.h"
#include "flash_report.h"
#include "flash_runner.h"
#include "interrupt_watch.h"
#include "module_options.h"
#include "station_output.h"
#include "station_run.h"
#include "station_ports.h"
#include "transfer_plan.h"

namespace hxflash {
namespace {

constexpr int kMostPhonesPerPort = 100000;
constexpr auto kWatchStep = std::chrono::milliseconds(50);
constexpr auto kPresentLookStep = std::chrono::milliseconds(500);
constexpr const char* kPresentNotice =
    "a phone is plugged in already: unplug it, then plug it in again: a phone is flashed when its port appears";

// The notice of a port whose session waits for its phone; it names where the
// phone appears, so that a mistyped entry or device shows.
std::string waitingNotice(const StationPorts& station, uint32_t com) {
  return "waiting for the phone to be plugged in (as " + station.whereItAppears(com) + ")";
}

// The ports whose session waits while a phone is plugged in already.
class PresentPhones {
 public:
  // Whether the port was not counted yet.
  bool add(uint32_t com) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ports.insert(com).second;
  }
  // Whether the port was counted.
  bool remove(uint32_t com) {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_ports.erase(com) != 0;
  }
  // Those whose phone is there still (at the end of the run: never flashed).
  std::vector<uint32_t> stillThere(const StationPorts& station) {
    std::vector<uint32_t> ports;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ports.assign(m_ports.begin(), m_ports.end());
    }
    if (kStationSeesPresence) std::erase_if(ports, [&](uint32_t com) { return !station.plugged(com); });
    return ports;
  }
  // Those whose phone has gone since: no longer present.
  std::vector<uint32_t> gone(const StationPorts& station) {
    std::vector<uint32_t> ports;
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      ports.assign(m_ports.begin(), m_ports.end());
    }
    std::erase_if(ports, [&](uint32_t com) { return station.plugged(com); });
    for (uint32_t com : ports) remove(com);
    return ports;
  }

 private:
  std::mutex m_mutex;
  std::set<uint32_t> m_ports;
};

struct FlashCli {
  std::string package;
  std::vector<std::string> ports;
  int phones = 1;
  ModuleOptions module;
  bool json = false;
  bool loop = false;
  std::string logDir;
};

// A run refused before it waits: one sentence on standard error, and with
// --json one refusal line on standard output.
int refuse(const std::string& sentence, bool json) {
  const std::string typed = asTyped(sentence);
  fmt::print(stderr, "hxflash flash: {}\n", typed);
  if (json) fmt::print("{}\n", jsonRefusal(typed));
  return kExitRefused;
}

// The phones of the run. In station mode each port's last turn, when it
// ended without a phone (the run stopped waiting), is no phone.
std::vector<PhoneResult> phonesOf(const FlashRun& run, bool loop) {
  std::vector<PhoneResult> phones = run.results();
  if (loop) std::erase_if(phones, [](const PhoneResult& r) { return outcomeOf(r) == PhoneOutcome::NotFlashed; });
  return phones;
}

// The phones still transferring cannot be waited for: the run ends now,
// without returning through the sessions that are still busy.
[[noreturn]] void endAtOnce(FlashReport& report, const FlashRun& run, StationPorts& station, PresentPhones& present,
                            std::chrono::steady_clock::time_point start, bool loop) {
  const std::vector<PhoneResult> phones = phonesOf(run, loop);
  RunEnd end{true, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
             exitStatusFor(phones, true, loop), present.stillThere(station)};
  report.end(phones, end);
  station.release();
  std::fflush(stdout);
  std::fflush(stderr);
  std::_Exit(end.exitStatus);
}

int flash(const FlashCli& cli) {
  std::vector<PortAssignment> ports;
  for (const std::string& text : cli.ports) {
    try {
      ports.push_back(parsePortAssignment(text));
    } catch (const std::invalid_argument& e) {
      return refuse(e.what(), cli.json);
    }
  }
  if (Refusal r = duplicatePort(ports)) return refuse(*r, cli.json);
  StationPorts station;
  if (Refusal r = station.claim(ports)) return refuse(*r, cli.json);
  const std::string package = std::filesystem::absolute(cli.package).string();
  TransferPlan plan;
  {
    // Read once, for the module's verdict and the figures of the view; its
    // bytes are let go before the module reads the package for itself.
    hx::PackageRecords records;
    hx::readPackageFileInto(package, records);
    if (Refusal r = checkPackage(package, records)) return refuse(*r, cli.json);
    plan = planTransfer(records);
  }
  station.attachDevices();

  PresentPhones present;
  StationRunSetup setup;
  setup.flash.modulePath = cli.module.module;
  setup.flash.packagePath = package;
  setup.flash.phonesPerPort = cli.loop ? 0 : cli.phones;
  setup.flash.keepEndedPhonesEvents = !cli.loop;
  setup.flash.timeScale = cli.module.timeScale;
  for (const PortAssignment& port : ports) setup.flash.comPorts.push_back(port.comPort);
  setup.output = OutputChoice{cli.json, cli.module.verbose, cli.loop};
  setup.logDir = cli.logDir;
  setup.plan = std::move(plan);
  setup.onEvent = [&present](uint32_t com, const HostEvent& e) {
    if (e.code == kNotifyConnected) present.remove(com);
  };
  FlashReport* report = nullptr;
  // The module says when its wait finds a phone still attached, and when it
  // has gone: on Windows the only way to tell without opening the port.
  setup.onModuleLine = [&report, &station, &present](unsigned com, const std::string& line) {
    if (line.ends_with(kStillAttachedLine) && present.add(com)) report->portNotice(com, kPresentNotice);
    if (line.ends_with(kGoneLine) && present.remove(com)) report->portNotice(com, waitingNotice(station, com));
  };
  // Said when a session begins to wait for its next phone: a phone plugged in
  // while it was not waiting (the module loads the package first, a phone
  // swapped in during the reset countdown) is one already present, and is not
  // flashed until it comes anew. That notice stands until the port goes.
  setup.flash.onWaiting = [&report, &station, &present](uint32_t com, int) {
    if (!kStationSeesPresence || !station.plugged(com)) {
      report->portNotice(com, waitingNotice(station, com));
      return;
    }
    if (present.add(com)) report->portNotice(com, kPresentNotice);
  };

  InterruptWatch interrupts;  // before any thread starts, so that none takes Ctrl-C
  // A module that cannot be loaded is refused before the log folder is made.
  StationRun stationRun(std::move(setup));
  FlashRun& run = stationRun.run();
  report = &stationRun.report();
  const auto start = std::chrono::steady_clock::now();
  stationRun.start();

  bool stopping = false;
  auto presentLookedAt = std::chrono::steady_clock::now();
  while (!run.waitFor(std::chrono::milliseconds(0))) {
    if (kStationSeesPresence && std::chrono::steady_clock::now() - presentLookedAt >= kPresentLookStep &&
        !stopping) {
      presentLookedAt = std::chrono::steady_clock::now();
      for (uint32_t com : present.gone(station)) report->portNotice(com, waitingNotice(station, com));
    }
    if (interrupts.take(kWatchStep) > 0) {
      if (stopping) {
        report->stopping("quitting now: phones still transferring must be flashed again");
        endAtOnce(*report, run, station, present, start, cli.loop);
      }
      stopping = true;
      report->stopping("stopped waiting for phones; transfers under way will finish "
                       "(Ctrl-C again quits at once)");
      run.abort();
    }
    // A phone in its reset countdown is written: the run need not wait for it.
    if (stopping && run.onlyResetsLeft() && !run.waitFor(std::chrono::milliseconds(0)))
      endAtOnce(*report, run, station, present, start, cli.loop);
  }
  const std::vector<PhoneResult> results = phonesOf(run, cli.loop);
  RunEnd end{stopping, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(),
             exitStatusFor(results, stopping, cli.loop), present.stillThere(station)};
  stationRun.end(results, end);
  return end.exitStatus;
}

}  // namespace

void registerFlashCommand(CLI::App& app, int& exitCode) {
  auto cli = std::make_shared<FlashCli>();
  CLI::App* cmd = app.add_subcommand("flash", "Flash phones on one or more COM ports at once through the module");
  cmd->footer(kExitStatusHelp);
  cmd->add_option("package", cli->package, "Firmware package file")->required()->check(CLI::ExistingFile);
#if defined(_WIN32)
  const char* portHelp = "COM port to serve (40..255)";
#else
  const char* portHelp = "COM port to serve (40..255); N=DEVICE first attaches a serial device (/dev/ttyACM0) as COM N";
#endif
  cmd->add_option("-p,--port", cli->ports, portHelp)
      ->required()
      ->default_str("");
  CLI::Option* phones = cmd->add_option("-n,--phones", cli->phones, "Phones to flash on each port, one after another")
                             ->check(CLI::Validator(
                                 [](std::string& text) {
                                   const bool digits = !text.empty() && text.find_first_not_of("0123456789") ==
                                                                            std::string::npos;
                                   return digits ? std::string() : text + " is not a number";
                                 },
                                 "NUMBER"))
                             ->check(CLI::Range(1, kMostPhonesPerPort));
  cmd->add_flag("--loop", cli->loop,
                "Station mode: each port flashes the next phone whenever one is plugged in, until Ctrl-C")
      ->excludes(phones);
  cmd->add_option("--log-dir", cli->logDir,
                  "Folder for the run's logs: module.log (the module's log lines) and com<n>.log (each port's "
                  "reports); default: a new folder in the temporary folder");
  cmd->add_flag("--json", cli->json,
                "Standard output: only JSON lines, one per event and per result, and a summary; notices go to "
                "standard error");
  addModuleOptions(*cmd, cli->module);
  cmd->callback([cli, &exitCode] {
    try {
      exitCode = flash(*cli);
    } catch (const std::exception& e) {
      exitCode = refuse(e.what(), cli->json);
    }
  });
}

}  // namespace hxflash
