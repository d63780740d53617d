#pragma once
// The options more than one subcommand takes, each declared once: its name
// and what it holds. A subcommand adds what is its own (the role the option
// plays there, whether it is required, a narrower check).
#include <CLI/CLI.hpp>
#include <cstdint>
#include <string>

namespace hxphone {

// --package: a firmware package, its .desc.json beside it.
CLI::Option* addPackageOption(CLI::App& command, std::string& path, const std::string& role);
// --dump: a NAND dump file (raw blocks from block 0).
CLI::Option* addDumpOption(CLI::App& command, std::string& path, const std::string& role);
// --page-size: a NAND page size in bytes.
CLI::Option* addPageSizeOption(CLI::App& command, uint32_t& pageSize, const std::string& role);

}  // namespace hxphone
