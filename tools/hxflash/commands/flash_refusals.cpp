#include "commands/flash_refusals.h"

#include <fmt/format.h>

#include <set>

#include "package/package_verdict.h"

namespace hxflash {

Refusal duplicatePort(const std::vector<PortAssignment>& ports) {
  std::set<uint32_t> seen;
  for (const PortAssignment& port : ports) {
    if (!seen.insert(port.comPort).second)
      return fmt::format("COM{} is given more than once: one run serves each COM port once", port.comPort);
  }
  return std::nullopt;
}

Refusal checkPackage(const std::string& path, const hx::PackageRecords& records) {
  const hx::PackageVerdict verdict = hx::judgePackage(records);
  if (verdict.downloadable) return std::nullopt;
  return fmt::format("the module would refuse the package {}: {}", path, verdict.reason);
}

}  // namespace hxflash
