// hxflash: the command-line host for HX9120 flashing.
#include <CLI/CLI.hpp>

#include "commands.h"

int main(int argc, char** argv) {
  CLI::App app{"hxflash: flash HX9120 phones, inspect and make firmware packages"};
  app.require_subcommand(1);
  int exitCode = 0;

  hxflash::registerMakePackageCommand(app, exitCode);
  hxflash::registerFlashCommand(app, exitCode);
#if !defined(_WIN32)
  // Ports directories and virtual phones are Linux-only.
  hxflash::registerPortsCommand(app, exitCode);
  hxflash::registerDemoCommand(app, exitCode);
#endif
  hxflash::registerInspectCommand(app, exitCode);

  CLI11_PARSE(app, argc, argv);
  return exitCode;
}
