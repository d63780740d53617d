#pragma once
// The options of the commands that load the module and flash through it
// (flash, demo): which module, the scale of its fixed waits, and how much of
// what it reports to show.
#include <CLI/CLI.hpp>
#include <string>

namespace hxflash {

struct ModuleOptions {
  std::string module;
  double timeScale = 1.0;
  bool verbose = false;
};

// Adds --module, --time-scale and -v to `command`, showing the values
// `options` holds as the defaults.
void addModuleOptions(CLI::App& command, ModuleOptions& options);

}  // namespace hxflash
