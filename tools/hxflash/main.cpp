// hxflash: the command-line host for HX9120 flashing.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <string>

#include "commands.h"
#include "exit_status.h"

namespace {

// A first argument that is neither an option nor a command: named, with the
// commands there are.
bool isUnknownCommand(CLI::App& app, const std::string& word) {
  if (word.empty() || word[0] == '-') return false;
  for (const CLI::App* command : app.get_subcommands({})) {
    if (command->check_name(word)) return false;
  }
  std::string names;
  for (const CLI::App* command : app.get_subcommands({})) names += (names.empty() ? "" : ", ") + command->get_name();
  fmt::print(stderr, "hxflash: unknown command '{}'; the commands are {}\n", word, names);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"hxflash: flash HX9120 phones, inspect and make firmware packages"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("hxflash ") + HXFLASH_VERSION);
  app.option_defaults()->always_capture_default();
  int exitCode = hxflash::kExitOk;

  hxflash::registerMakePackageCommand(app, exitCode);
  hxflash::registerFlashCommand(app, exitCode);
#if !defined(_WIN32)
  // Ports directories and virtual phones are Linux-only.
  hxflash::registerPortsCommand(app, exitCode);
  hxflash::registerDemoCommand(app, exitCode);
#endif
  hxflash::registerInspectCommand(app, exitCode);
  app.footer(std::string("flash: ") + hxflash::kExitStatusHelp);

  if (argc > 1 && isUnknownCommand(app, argv[1])) return hxflash::kExitRefused;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version are answers; every other parse error is a bad argument.
    return app.exit(e) == 0 ? hxflash::kExitOk : hxflash::kExitRefused;
  }
  return exitCode;
}
