#include "station/station_output.h"

#include <optional>
#include <string>

#include "station/run_logs.h"

namespace hxflash {

void StationOutput::moduleLine(unsigned comPort, std::string_view line) {
  const std::optional<uint32_t> port = comPort == 0 ? std::nullopt : std::optional<uint32_t>(comPort);
  m_logs.moduleLine(port, line, ++m_moduleLines);
  if (m_report) m_report->moduleLine(comPort, line);
}

void StationOutput::unattributedModuleLine(std::string_view line, uint64_t endPosition) {
  m_logs.moduleLine(std::nullopt, line, endPosition);
  if (m_report) m_report->moduleLine(0, line);
}

}  // namespace hxflash
