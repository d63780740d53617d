#include "system/tty_drivers_linux.h"

#include <charconv>
#include <fstream>
#include <sstream>
#include <vector>

namespace hxflash {
namespace {

std::optional<uint32_t> number(std::string_view text) {
  uint32_t value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// A driver's minor numbers: "64" or "64-111".
bool minorIn(uint32_t minor, std::string_view range) {
  const size_t dash = range.find('-');
  const std::optional<uint32_t> first = number(range.substr(0, dash));
  const std::optional<uint32_t> last = dash == std::string_view::npos ? first : number(range.substr(dash + 1));
  return first && last && minor >= *first && minor <= *last;
}

}  // namespace

// Each line: name, device path, major, minor range, type ("serial", "pty:slave" ...).
std::optional<bool> isTerminalDevice(uint32_t major, uint32_t minor, std::string_view drivers) {
  std::istringstream lines{std::string(drivers)};
  bool listed = false;
  for (std::string line; std::getline(lines, line);) {
    std::istringstream fields(line);
    std::string name, path, majorText, minors;
    if (!(fields >> name >> path >> majorText >> minors)) continue;
    const std::optional<uint32_t> driverMajor = number(majorText);
    if (!driverMajor) continue;
    listed = true;
    if (*driverMajor == major && minorIn(minor, minors)) return true;
  }
  if (!listed) return std::nullopt;
  return false;
}

std::optional<bool> isTerminalDevice(uint32_t major, uint32_t minor) {
  std::ifstream in("/proc/tty/drivers");
  if (!in) return std::nullopt;
  std::stringstream text;
  text << in.rdbuf();
  return isTerminalDevice(major, minor, text.str());
}

}  // namespace hxflash
