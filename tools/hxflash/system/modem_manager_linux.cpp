#include "system/modem_manager_linux.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

namespace hxflash {
namespace {

namespace fs = std::filesystem;

constexpr const char* kModemManagerName = "ModemManager";

bool isProcessFolder(const fs::path& path) {
  const std::string name = path.filename().string();
  return !name.empty() && std::all_of(name.begin(), name.end(), [](unsigned char c) { return std::isdigit(c); });
}

// The kernel keeps a command name to 15 characters.
constexpr std::streamsize kCommandNameLimit = 64;

// The process's command name; empty once it has gone.
std::string commandName(const fs::path& process) {
  std::error_code ec;
  if (!fs::is_regular_file(process / "comm", ec)) return {};
  std::ifstream in(process / "comm", std::ios::binary);
  std::string name(static_cast<size_t>(kCommandNameLimit), '\0');
  in.read(name.data(), kCommandNameLimit);
  name.resize(static_cast<size_t>(in.gcount()));
  if (!name.empty() && name.back() == '\n') name.pop_back();
  return name;
}

}  // namespace

bool modemManagerRunning(const std::string& procRoot) {
  std::error_code ec;
  for (fs::directory_iterator it(procRoot, ec), end; !ec && it != end; it.increment(ec)) {
    if (isProcessFolder(it->path()) && commandName(it->path()) == kModemManagerName) return true;
  }
  return false;
}

}  // namespace hxflash
