#include "station_output.h"

#include <algorithm>
#include <charconv>

namespace hxflash {

std::optional<uint32_t> portOfModuleLine(std::string_view line, uint64_t lineEnd,
                                         const std::vector<uint32_t>& comPorts, const PortAtWork& portAtWork) {
  constexpr std::string_view kPrefix = "COM";
  if (line.starts_with(kPrefix)) {
    uint32_t com = 0;
    const char* first = line.data() + kPrefix.size();
    const char* last = line.data() + line.size();
    const auto [end, error] = std::from_chars(first, last, com);
    const bool named = error == std::errc() && end != first && end != last && *end == ':';
    if (named && std::find(comPorts.begin(), comPorts.end(), com) != comPorts.end()) return com;
  }
  if (comPorts.size() == 1) return comPorts.front();
  return portAtWork ? portAtWork(lineEnd) : std::nullopt;
}

}  // namespace hxflash
