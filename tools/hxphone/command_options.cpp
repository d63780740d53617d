#include "hxphone/command_options.h"

namespace hxphone {

CLI::Option* addPackageOption(CLI::App& command, std::string& path, const std::string& role) {
  return command.add_option("--package", path, role);
}

CLI::Option* addDumpOption(CLI::App& command, std::string& path, const std::string& role) {
  return command.add_option("--dump", path, role);
}

CLI::Option* addPageSizeOption(CLI::App& command, uint32_t& pageSize, const std::string& role) {
  return command.add_option("--page-size", pageSize, role);
}

}  // namespace hxphone
