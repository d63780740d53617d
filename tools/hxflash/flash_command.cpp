// hxflash flash: flashes phones on several COM ports at once through the
// module's exports, exactly as the station's host application does.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <csignal>
#include <filesystem>
#include <memory>
#include <map>
#include <mutex>
#include <stdexcept>
#include <string>

#include "commands.h"
#include "flash_runner.h"
#include "module_loader.h"
#include "event_printer.h"
#if !defined(_WIN32)
#include "port_attach.h"
#endif

namespace hxflash {
namespace {

struct FlashCli {
  std::string package;
  std::vector<std::string> ports;
  int phones = 1;
  std::string module = defaultModulePath();
  double timeScale = 1.0;
  bool verbose = false;
};

FlashRun* g_activeRun = nullptr;

extern "C" void onInterrupt(int) {
  if (g_activeRun) g_activeRun->abort();
}

int runFlash(const FlashCli& cli) {
  FlashOptions options;
  options.modulePath = cli.module;
  options.packagePath = std::filesystem::absolute(cli.package).string();
  options.phonesPerPort = cli.phones;
  options.timeScale = cli.timeScale;

#if defined(_WIN32)
  // Windows names its own COM ports: a port is only a number.
  for (const std::string& text : cli.ports) {
    size_t used = 0;
    const unsigned long com = std::stoul(text, &used);
    if (used != text.size() || com > 255) throw std::invalid_argument("not a COM port number: '" + text + "'");
    options.comPorts.push_back(static_cast<uint32_t>(com));
  }
#else
  std::vector<std::unique_ptr<AttachedPort>> attached;
  for (const std::string& recipe : cli.ports) {
    const PortAssignment port = parsePortAssignment(recipe);
    if (!port.device.empty()) attached.push_back(std::make_unique<AttachedPort>(port.comPort, port.device));
    options.comPorts.push_back(port.comPort);
  }
#endif

  EventPrinter printer(cli.verbose);
  options.onEvent = [&printer](uint32_t com, const HostEvent& e) { printer.print(com, e); };

  FlashRun run(options);
  g_activeRun = &run;
  std::signal(SIGINT, onInterrupt);
  std::signal(SIGTERM, onInterrupt);
  for (uint32_t com : options.comPorts) fmt::print("COM{:<3}  waiting for a phone\n", com);
  std::fflush(stdout);
  std::vector<PhoneResult> results;
  try {
    results = run.run();
  } catch (...) {
    g_activeRun = nullptr;
    throw;
  }
  g_activeRun = nullptr;

  int failed = 0;
  fmt::print("\n{:<6} {:>5}  {:<8} {:>9}\n", "port", "phone", "result", "seconds");
  for (const PhoneResult& r : results) {
    const char* verdict = !r.connected ? "aborted" : r.succeeded ? "flashed" : "FAILED";
    if (!r.succeeded) ++failed;
    fmt::print("COM{:<3} {:>5}  {:<8} {:>9.1f}\n", r.comPort, r.phone, verdict, r.seconds);
  }
  return failed == 0 && !results.empty() ? 0 : 1;
}

}  // namespace

void registerFlashCommand(CLI::App& app, int& exitCode) {
  auto cli = std::make_shared<FlashCli>();
  CLI::App* cmd = app.add_subcommand("flash", "Flash phones on one or more COM ports at once through the module");
  cmd->add_option("package", cli->package, "Firmware package file")->required()->check(CLI::ExistingFile);
  cmd->add_option("-p,--port", cli->ports,
                  "COM port to serve (40..255); N=DEVICE first attaches a serial device (/dev/ttyACM0) as COM N")
      ->required();
  cmd->add_option("-n,--phones", cli->phones, "Phones to flash on each port, one after another")
      ->check(CLI::PositiveNumber);
  cmd->add_option("--module", cli->module, "The plug-in module to load")->check(CLI::ExistingFile);
  cmd->add_option("--time-scale", cli->timeScale, "Scale the module's fixed waits (tests and demos only)")
      ->check(CLI::Range(0.0001, 1.0));
  cmd->add_flag("-v,--verbose", cli->verbose, "Show every event the module reports");
  cmd->callback([cli, &exitCode] {
    try {
      exitCode = runFlash(*cli);
    } catch (const std::exception& e) {
      fmt::print(stderr, "hxflash flash: {}\n", e.what());
      exitCode = 2;
    }
  });
}

}  // namespace hxflash
