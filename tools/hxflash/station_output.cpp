#include "station_output.h"

#include <cstdio>
#include <optional>
#include <string>

#include "run_logs.h"

namespace hxflash {

void StationOutput::moduleLine(unsigned comPort, std::string_view line) {
  const std::optional<uint32_t> port = comPort == 0 ? std::nullopt : std::optional<uint32_t>(comPort);
  m_logs.moduleLine(port, line, ++m_moduleLines);
  echo(line);
}

void StationOutput::unattributedModuleLine(std::string_view line, uint64_t endPosition) {
  m_logs.moduleLine(std::nullopt, line, endPosition);
  echo(line);
}

// With JSON on standard output, the module's lines are also shown on standard
// error, one write each.
void StationOutput::echo(std::string_view line) {
  if (!m_echoModuleLines) return;
  const std::string text = std::string(line) + "\n";
  std::fwrite(text.data(), 1, text.size(), stderr);
}

}  // namespace hxflash
