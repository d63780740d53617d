#pragma once
// One registration function per hxflash command. Each adds its subcommand to
// the app and sets the command's result through `exitCode` when it runs.
// A new command: write <name>_command.cpp defining its function, declare it
// here, call it from main.cpp.
#include <CLI/CLI.hpp>

namespace hxflash {

void registerMakePackageCommand(CLI::App& app, int& exitCode);
void registerFlashCommand(CLI::App& app, int& exitCode);
void registerPortsCommand(CLI::App& app, int& exitCode);
void registerDemoCommand(CLI::App& app, int& exitCode);
void registerInspectCommand(CLI::App& app, int& exitCode);

}  // namespace hxflash
