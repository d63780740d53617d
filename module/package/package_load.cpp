#include "package/package_records.h"
#include "platform/log.h"

namespace hx {

// Placeholder until the package reader lands: a load always fails cleanly.
bool loadPackage(const std::string& path, PackageRecords& records) {
  records.loaded = false;
  records.loadFailure = "package reader not available";
  logMessage("Package %s not loaded: %s\n", path.c_str(), records.loadFailure.c_str());
  return false;
}

}  // namespace hx
