// hxflash ports: the COM ports the module would see, and whether each can be
// opened now.
#include <fmt/core.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "commands.h"
#include "serial/com_mngr.h"
#include "serial/port_names.h"

namespace hxflash {
namespace {

int listPorts() {
  const std::string dir = hx::portsDirectory();
  fmt::print("ports directory: {}\n", dir);
  std::error_code ec;
  std::vector<uint32_t> ports;
  if (!std::filesystem::exists(dir, ec)) {
    fmt::print("  no ports (the directory does not exist yet)\n");
    return 0;
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.compare(0, 3, "com") != 0) continue;
    if (!std::all_of(name.begin() + 3, name.end(), ::isdigit) || name.size() > 6) continue;
    const unsigned long n = std::stoul(name.substr(3));
    if (n <= 255) ports.push_back(static_cast<uint32_t>(n));
  }
  if (ec) {
    fmt::print("  (cannot read it: {})\n", ec.message());
    return 1;
  }
  std::sort(ports.begin(), ports.end());
  if (ports.empty()) fmt::print("  no ports\n");
  for (uint32_t com : ports) {
    std::string why;
    const std::string path = hx::comPortDevicePath(com, &why);
    std::string target = std::filesystem::read_symlink(dir + "/com" + std::to_string(com), ec).string();
    if (ec) target = "?";
    std::string state;
    if (path.empty()) {
      state = "unusable: " + why;
    } else {
      hx::CComMngr probe;
      state = probe.OpenComPort(static_cast<unsigned char>(com)) ? "ready" : "in use";
      probe.Close();
    }
    fmt::print("  COM{:<3} -> {:<20} {}\n", com, target, state);
  }
  return 0;
}

}  // namespace

void registerPortsCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd = app.add_subcommand("ports", "List the COM ports of the ports directory and whether they can be opened");
  cmd->callback([&exitCode] { exitCode = listPorts(); });
}

}  // namespace hxflash
