// hxflash ports: the COM ports the module would see, and whether each can be
// opened now. Exit status 1 when the module cannot use the ports directory or
// one of its ports.
#include <fmt/core.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <filesystem>

#include "commands.h"
#include "exit_status.h"
#include "flash_refusals.h"
#include "serial/com_mngr.h"
#include "serial/port_names.h"

namespace hxflash {
namespace {

constexpr uint32_t kLastComPort = 255;

// The COM numbers of the directory's com<n> entries, in order.
std::vector<uint32_t> comPortsIn(const std::string& dir, std::error_code& ec) {
  std::vector<uint32_t> ports;
  for (const auto& entry : std::filesystem::directory_iterator(dir, ec)) {
    const std::string name = entry.path().filename().string();
    if (name.size() < 4 || name.size() > 6 || name.compare(0, 3, "com") != 0) continue;
    if (!std::all_of(name.begin() + 3, name.end(), ::isdigit)) continue;
    const unsigned long n = std::stoul(name.substr(3));
    if (n <= kLastComPort) ports.push_back(static_cast<uint32_t>(n));
  }
  std::sort(ports.begin(), ports.end());
  return ports;
}

int listPorts() {
  const std::string dir = hx::portsDirectory();
  fmt::print("ports directory: {}\n", dir);
  std::error_code ec;
  if (!std::filesystem::exists(dir, ec)) {
    fmt::print("  no ports (the directory does not exist yet)\n");
    return kExitOk;
  }
  std::string why;
  if (!hx::portsDirectoryTrusted(dir, &why)) {
    fmt::print("  unusable: {}, so the module opens no port in it\n", why);
    return kExitPhoneFailed;
  }
  const std::vector<uint32_t> ports = comPortsIn(dir, ec);
  if (ec) {
    fmt::print("  (cannot read it: {})\n", ec.message());
    return kExitPhoneFailed;
  }
  if (ports.empty()) fmt::print("  no ports\n");
  int status = kExitOk;
  for (uint32_t com : ports) {
    const std::string entry = dir + "/com" + std::to_string(com);
    std::string target = std::filesystem::read_symlink(entry, ec).string();
    if (ec) target = "?";
    std::string state;
    const PortCheck check = checkPort(com, entry);
    if (check.refusal) {
      state = "unusable: " + *check.refusal;
      status = kExitPhoneFailed;
    } else if (!check.plugged) {
      state = "no device there (not plugged in)";
    } else {
      hx::CComMngr probe;
      state = probe.OpenComPort(static_cast<unsigned char>(com)) ? "ready" : "in use";
      probe.Close();
    }
    fmt::print("  COM{:<3} -> {:<20} {}\n", com, target, state);
  }
  return status;
}

}  // namespace

void registerPortsCommand(CLI::App& app, int& exitCode) {
  CLI::App* cmd =
      app.add_subcommand("ports", "List the COM ports of the ports directory and whether they can be opened");
  cmd->footer("Exit status: 0 the module can use every port listed, 1 it cannot use the directory or a port.");
  cmd->callback([&exitCode] { exitCode = listPorts(); });
}

}  // namespace hxflash
