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
// terminal, time-stamped lines otherwise (station/station_output.h).
//
// --loop: station mode. Each port flashes the next phone whenever one comes,
// until Ctrl-C (or SIGTERM); the summary counts the phones of every port.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "system/command_line.h"
#include "commands/commands.h"
#include "station/exit_status.h"
#include "commands/flash_refusals.h"
#include "history/phone_keeper.h"
#include "station/flash_report.h"
#include "host/flash_runner.h"
#include "station/interrupt_watch.h"
#include "station/present_phones.h"
#include "commands/module_options.h"
#include "station/station_output.h"
#include "station/station_run.h"
#include "station/station_ports.h"
#include "station/transfer_plan.h"

namespace hxflash {
namespace {

constexpr int kMostPhonesPerPort = 100000;
constexpr auto kWatchStep = std::chrono::milliseconds(50);
constexpr auto kPresentLookStep = std::chrono::milliseconds(500);

struct FlashCli {
  std::string package;
  std::vector<std::string> ports;
  int phones = 1;
  ModuleOptions module;
  bool json = false;
  bool loop = false;
  std::string logDir;
  HistoryOptions history;
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

// One `hxflash flash`: what waiting cannot fix is refused first, then the
// sessions run while the command watches for Ctrl-C and for phones that were
// there already, and the run ends with its summary.
class FlashCommandRun {
 public:
  explicit FlashCommandRun(const FlashCli& cli) : m_cli(cli), m_present(m_station) {}

  int run() {
    if (Refusal r = claimPorts()) return refuse(*r, m_cli.json);
    if (Refusal r = readPackage()) return refuse(*r, m_cli.json);
    if (Refusal r = openHistory()) return refuse(*r, m_cli.json);
    m_station.attachDevices();
    InterruptWatch interrupts;  // before any thread starts, so that none takes Ctrl-C
    // A module that cannot be loaded is refused before the log folder is made.
    StationRun stationRun(setup());
    m_start = std::chrono::steady_clock::now();
    stationRun.start();
    const bool stopped = watch(stationRun, interrupts);
    const std::vector<PhoneResult> phones = phonesOf(stationRun.run(), m_cli.loop);
    const RunEnd end = runEnd(phones, stopped);
    stationRun.end(phones, end);
    if (m_history) m_history->finish();
    return end.exitStatus;
  }

 private:
  // The ports as given: each well-formed, none twice, each one this run may serve.
  Refusal claimPorts() {
    for (const std::string& text : m_cli.ports) {
      try {
        m_ports.push_back(parsePortAssignment(text));
      } catch (const std::invalid_argument& e) {
        return e.what();
      }
    }
    if (Refusal r = duplicatePort(m_ports)) return r;
    return m_station.claim(m_ports);
  }

  // Read once, for the module's verdict and the figures of the view; its
  // bytes are let go before the module reads the package for itself.
  Refusal readPackage() {
    m_package = std::filesystem::absolute(m_cli.package).string();
    hx::PackageRecords records;
    hx::readPackageFileInto(m_package, records);
    if (Refusal r = checkPackage(m_package, records)) return r;
    m_plan = planTransfer(records);
    return std::nullopt;
  }

  // Before any phone is waited for: a history that must not be used is refused.
  Refusal openHistory() {
    StationHistorySetup history;
    history.package = m_cli.package;
    history.plan = m_plan;
    history.device = [this](uint32_t comPort) { return m_station.whereItAppears(comPort); };
    history.present = [this](uint32_t comPort) { return std::ranges::count(m_present.stillThere(), comPort) > 0; };
    try {
      m_history = openPhoneKeeper(m_cli.history, std::move(history));
    } catch (const HistoryRefused& e) {
      return e.what();
    }
    return std::nullopt;
  }

  StationRunSetup setup() {
    StationRunSetup setup;
    setup.flash.modulePath = m_cli.module.module;
    setup.flash.packagePath = m_package;
    setup.flash.phonesPerPort = m_cli.loop ? 0 : m_cli.phones;
    setup.flash.keepEndedPhonesEvents = !m_cli.loop;
    setup.flash.timeScale = m_cli.module.timeScale;
    for (const PortAssignment& port : m_ports) setup.flash.comPorts.push_back(port.comPort);
    setup.output = OutputChoice{m_cli.json, m_cli.module.verbose, m_cli.loop};
    setup.logDir = m_cli.logDir;
    setup.plan = std::move(m_plan);
    setup.hooks = &m_present;
    if (m_history)
      setup.keepPhone = [this](const PhoneResult& r, const RunLogs& logs, FlashReport& report) {
        m_history->phoneEnded(r, logs, report);
      };
    return setup;
  }

  // Until every session has ended: the first Ctrl-C stops the waits for
  // phones, the second ends the run at once. Whether the run was stopped.
  bool watch(StationRun& stationRun, InterruptWatch& interrupts) {
    FlashReport& report = stationRun.report();
    FlashRun& run = stationRun.run();
    bool stopping = false;
    auto presentLookedAt = std::chrono::steady_clock::now();
    while (!run.waitFor(std::chrono::milliseconds(0))) {
      if (kStationSeesPresence && !stopping && std::chrono::steady_clock::now() - presentLookedAt >= kPresentLookStep) {
        presentLookedAt = std::chrono::steady_clock::now();
        m_present.lookAgain(report);
      }
      if (interrupts.take(kWatchStep) > 0) {
        if (stopping) {
          report.stopping("quitting now: phones still transferring must be flashed again");
          endAtOnce(stationRun);
        }
        stopping = true;
        report.stopping("stopped waiting for phones; transfers under way will finish (Ctrl-C again quits at once)");
        run.abort();
      }
      // A phone in its reset countdown is written: the run need not wait for it.
      if (stopping && run.onlyResetsLeft() && !run.waitFor(std::chrono::milliseconds(0))) endAtOnce(stationRun);
    }
    return stopping;
  }

  RunEnd runEnd(const std::vector<PhoneResult>& phones, bool stopped) const {
    return RunEnd{stopped, std::chrono::duration<double>(std::chrono::steady_clock::now() - m_start).count(),
                  exitStatusFor(phones, stopped, m_cli.loop), m_present.stillThere()};
  }

  // The phones still transferring cannot be waited for: the run ends now,
  // without returning through the sessions that are still busy.
  [[noreturn]] void endAtOnce(StationRun& stationRun) {
    FlashReport& report = stationRun.report();
    if (m_history) m_history->runEndsAtOnce(stationRun.run().results(), stationRun.logs(), report);
    const std::vector<PhoneResult> phones = phonesOf(stationRun.run(), m_cli.loop);
    const RunEnd end = runEnd(phones, true);
    report.end(phones, end);
    m_station.release();
    std::fflush(stdout);
    std::fflush(stderr);
    std::_Exit(end.exitStatus);
  }

  const FlashCli& m_cli;
  std::vector<PortAssignment> m_ports;
  StationPorts m_station;
  PresentPhones m_present;
  std::string m_package;
  TransferPlan m_plan;
  std::unique_ptr<PhoneKeeper> m_history;
  std::chrono::steady_clock::time_point m_start{};
};

}  // namespace

void registerFlashCommand(CLI::App& app, int& exitCode) {
  auto cli = std::make_shared<FlashCli>();
  CLI::App* cmd = app.add_subcommand("flash", "Flash phones on one or more COM ports at once through the module");
  cmd->footer(kExitStatusHelp);
  cmd->add_option("package", cli->package, "Firmware package file")->required()->check(CLI::ExistingFile);
#if defined(_WIN32)
  const std::string portHelp = "COM port to serve (" + std::string(kServedComNumbers) + ")";
#else
  const std::string portHelp = "COM port to serve (" + std::string(kServedComNumbers) +
                               "); N=DEVICE first attaches a serial device (/dev/ttyACM0) as COM N";
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
                  "reports); default: a new folder in the temporary folder, named for the run's date and time");
  cmd->add_flag("--json", cli->json,
                "Standard output: only JSON lines, one per event and per result, and a summary; notices go to "
                "standard error");
  addModuleOptions(*cmd, cli->module);
  addHistoryOptions(*cmd, cli->history, true);
  cmd->callback([cli, &exitCode] {
    try {
      exitCode = FlashCommandRun(*cli).run();
    } catch (const std::exception& e) {
      exitCode = refuse(e.what(), cli->json);
    }
  });
}

}  // namespace hxflash
