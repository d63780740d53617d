#pragma once
// One registration function per hxflash command. Each adds its subcommand to
// the app and sets the command's result through `exitCode` when it runs.
// A new command: write commands/<name>_command.cpp defining its function
// (options it shares with other commands come from an option group such as
// module_options.h), declare it here, call it from main.cpp, and add the file
// to tools/hxflash/CMakeLists.txt.
#include <CLI/CLI.hpp>

namespace hxflash {

void registerMakePackageCommand(CLI::App& app, int& exitCode);
void registerFlashCommand(CLI::App& app, int& exitCode);
void registerPortsCommand(CLI::App& app, int& exitCode);
void registerDemoCommand(CLI::App& app, int& exitCode);
void registerInspectCommand(CLI::App& app, int& exitCode);
void registerHistoryCommand(CLI::App& app, int& exitCode);

}  // namespace hxflash
