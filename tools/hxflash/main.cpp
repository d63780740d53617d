// hxflash: the command-line host for HX9120 flashing.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <cctype>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "station/exit_status.h"
#include "hx_build_version.h"  // written at build time: cmake/build_version.cmake
#include "system/command_line.h"

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

// The command the arguments name, if any.
CLI::App* commandOf(CLI::App& app, int argc, char** argv) {
  if (argc < 2) return nullptr;
  for (CLI::App* command : app.get_subcommands({})) {
    if (command->check_name(argv[1])) return command;
  }
  return nullptr;
}

// The first option `command` does not know, as typed ("--prot"): a typo is
// named before what it leaves missing.
std::string unknownOption(CLI::App& command, int argc, char** argv) {
  for (int i = 2; i < argc; ++i) {
    const std::string word = argv[i];
    if (word == "--") break;
    if (word.size() < 2 || word[0] != '-' || std::isdigit(static_cast<unsigned char>(word[1]))) continue;
    const std::string name = word.substr(0, word.find('='));
    // A short option may carry its value: "-p41".
    const std::string option = name.starts_with("--") ? name : name.substr(0, 2);
    if (option == "-h" || option == "--help") continue;
    if (command.get_option_no_throw(option) == nullptr) return name;
  }
  return {};
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"hxflash: flash HX9120 phones, inspect and make firmware packages"};
  app.require_subcommand(1);
  app.set_version_flag("--version", std::string("hxflash ") + HX_BUILD_VERSION_AND_COMMIT);
  app.option_defaults()->always_capture_default();
  int exitCode = hxflash::kExitOk;

  hxflash::registerMakePackageCommand(app, exitCode);
  hxflash::registerFlashCommand(app, exitCode);
  hxflash::registerPortsCommand(app, exitCode);
#if !defined(_WIN32)
  // Virtual phones are Linux-only; so is the station's history (hxflash.exe
  // keeps none: its --json lines are its record).
  hxflash::registerDemoCommand(app, exitCode);
  hxflash::registerHistoryCommand(app, exitCode);
#endif
  hxflash::registerInspectCommand(app, exitCode);
  app.footer(std::string("flash: ") + hxflash::kExitStatusHelp);

  hxflash::ProgramWords program = hxflash::programWords(argc, argv);
  if (program.refusal) {
    fmt::print(stderr, "hxflash: {}\n", *program.refusal);
    return hxflash::kExitRefused;
  }
#if defined(_WIN32)
  // "/?" asks a Windows program for its help.
  for (std::string& word : program.words)
    if (word == "/?") word = "--help";
#endif
  std::vector<char*> args;
  for (std::string& word : program.words) args.push_back(word.data());
  argc = static_cast<int>(args.size());
  argv = args.data();
  if (argc > 1 && isUnknownCommand(app, argv[1])) return hxflash::kExitRefused;
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    // Help and the version are answers; every other parse error is a bad
    // argument, said as the command's own sentence.
    if (e.get_exit_code() == static_cast<int>(CLI::ExitCodes::Success)) return app.exit(e);
    CLI::App* command = commandOf(app, argc, argv);
    const std::string who = command ? "hxflash " + command->get_name() : "hxflash";
    const std::string typo = command ? unknownOption(*command, argc, argv) : std::string();
    if (!typo.empty())
      fmt::print(stderr, "{}: unknown option {}; see {} --help\n", who, typo, who);
    else
      fmt::print(stderr, "{}: {}\n", who, hxflash::asTyped(e.what()));
    return hxflash::kExitRefused;
  }
  return exitCode;
}
