// hxflash.exe ports: the system's serial ports with their COM numbers and
// whether the module takes each for a phone's port, from the module's own
// enumeration. Exit status 1 when the system cannot list them.
#include <fmt/core.h>

#include <CLI/CLI.hpp>

#include "commands/commands.h"
#include "station/exit_status.h"
#include "ports/port_enumeration.h"
#include "system/system_ports.h"

namespace hxflash {

void registerPortsCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand(
      "ports", "List the system's serial ports, their COM numbers and whether the module takes each for a phone's port");
  cmd->footer("Exit status: 0 listed, 1 the system could not list its ports.");
  cmd->callback([&exitCode] {
    try {
      const std::unique_ptr<hx::PortSystem> system = hx::makeWin32PortSystem();
      fmt::print("{}", describeSystemPorts(systemPorts(*system)));
      exitCode = kExitOk;
    } catch (const std::exception& e) {
      fmt::print(stderr, "hxflash ports: the system's serial ports cannot be listed: {}\n", e.what());
      exitCode = kExitPhoneFailed;
    }
  });
}

}  // namespace hxflash
