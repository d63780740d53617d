// The port enumeration on the system Wine provides: the version query, the
// device-interface walk of both classes and the open test run without
// failing, and no port Wine lists has a phone's name. Prints what the system
// lists before the name filter.
#include <cstdio>
#include <exception>

#include "check.h"
#include "ports/com_mngr.h"
#include "ports/port_enumeration.h"

namespace {

using hxwin::g_failures;

void print(const char* what, const hx::SerInfoList& list) {
  std::printf("%s: %zu port(s)\n", what, list.GetSize());
  for (const hx::SSerInfo& r : list) {
    std::printf("  %s  %s  \"%s\"  usb %d  \"%s\"  %u\n", r.devicePath.c_str(), r.portName.c_str(),
                r.friendlyName.c_str(), static_cast<int>(r.isUsb), r.description.c_str(), r.portNumber);
  }
}

void enumerate(bool modemClass) {
  const auto system = hx::makeWin32PortSystem();
  hx::SerInfoList listed;
  hx::collectSerialPorts(*system, listed, modemClass);
  print(modemClass ? "modems the system lists" : "serial ports the system lists", listed);
  for (int ignoreBusy = 0; ignoreBusy <= 1; ++ignoreBusy) {
    hx::SerInfoList phonePorts;
    hx::EnumerateSerialPorts(phonePorts, ignoreBusy, modemClass, 1);
    print("phone ports", phonePorts);
    CHECK(phonePorts.IsEmpty());
  }
}

}  // namespace

int main() {
  try {
    hx::WindowsVersion version;
    CHECK(hx::makeWin32PortSystem()->version(&version));
    std::printf("Windows %u.%u, platform %u\n", version.major, version.minor, version.platformId);
    CHECK(version.major >= 5);  // the device-interface method
    enumerate(false);
    enumerate(true);
    hx::CComMngr mngr;
    CHECK(mngr.IsPortPresent(1) == 0);
    CHECK(mngr.IsPortAbsent(1) == 1);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "the enumeration failed: %s\n", e.what());
    ++g_failures;
  }
  if (g_failures != 0) std::fprintf(stderr, "%d check(s) failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
