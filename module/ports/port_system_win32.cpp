// The port enumeration's system on Windows: GetVersionEx, SetupAPI for the
// device interfaces, the registry, and CreateFile for the open test.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// windows.h first: setupapi.h builds on its types.
#include <setupapi.h>

#include <cstring>
#include <memory>
#include <vector>

#include "ports/port_enumeration.h"
#include "ports/port_system.h"

namespace hx {
namespace {

const GUID kSerialPortInterfaceClass = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};
const GUID kModemInterfaceClass = {0x2C7089AA, 0x2E0E, 0x11D1, {0xB1, 0x14, 0x00, 0xC0, 0x4F, 0xC2, 0xAA, 0xE4}};

constexpr DWORD kDetailBytes = 261;
constexpr DWORD kPropertyBytes = 256;
constexpr DWORD kSubkeyNameBytes = 128;
static_assert(sizeof(OSVERSIONINFOA) == 148, "the version record the system fills");

// The text the system wrote into a buffer: up to its first zero, never past
// what was written or the buffer's end.
std::string textOf(const char* buffer, size_t bufferBytes, size_t written) {
  const size_t n = written < bufferBytes ? written : bufferBytes;
  return std::string(buffer, strnlen(buffer, n));
}

// A device set with its selected interface and device.
struct DeviceSet {
  HDEVINFO info = INVALID_HANDLE_VALUE;
  GUID interfaceClass{};
  SP_DEVICE_INTERFACE_DATA interfaceData{};
  SP_DEVINFO_DATA device{};
};

DeviceSet& deviceSet(SystemHandle set) { return *reinterpret_cast<DeviceSet*>(set); }

HKEY registryKey(SystemHandle key) {
  if (key == kLocalMachineKey) return HKEY_LOCAL_MACHINE;
  if (key == kDynDataKey) return HKEY_DYN_DATA;
  return reinterpret_cast<HKEY>(key);
}

class Win32PortSystem final : public PortSystem {
 public:
  uint32_t lastError() override { return m_lastError; }

  bool version(WindowsVersion* version) override {
    OSVERSIONINFOA record{};
    record.dwOSVersionInfoSize = sizeof record;
    if (!GetVersionExA(&record)) return failed(GetLastError());
    version->major = record.dwMajorVersion;
    version->minor = record.dwMinorVersion;
    version->platformId = record.dwPlatformId;
    return true;
  }

  bool openDeviceSet(bool modemClass, SystemHandle* set) override {
    auto state = std::make_unique<DeviceSet>();
    state->interfaceClass = modemClass ? kModemInterfaceClass : kSerialPortInterfaceClass;
    state->info = SetupDiGetClassDevsA(&state->interfaceClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (state->info == INVALID_HANDLE_VALUE) return failed(GetLastError());
    *set = reinterpret_cast<SystemHandle>(state.release());
    return true;
  }

  bool enumInterface(SystemHandle set, uint32_t index) override {
    DeviceSet& s = deviceSet(set);
    s.interfaceData = SP_DEVICE_INTERFACE_DATA{};
    s.interfaceData.cbSize = sizeof s.interfaceData;
    if (!SetupDiEnumDeviceInterfaces(s.info, nullptr, &s.interfaceClass, index, &s.interfaceData)) {
      return failed(GetLastError());
    }
    return true;
  }

  bool interfaceDetail(SystemHandle set) override {
    DeviceSet& s = deviceSet(set);
    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A) char buffer[kDetailBytes] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    s.device = SP_DEVINFO_DATA{};
    s.device.cbSize = sizeof s.device;
    if (!SetupDiGetDeviceInterfaceDetailA(s.info, &s.interfaceData, detail, kDetailBytes, nullptr, &s.device)) {
      return failed(GetLastError());
    }
    return true;
  }

  bool deviceProperty(SystemHandle set, DeviceProperty which, std::string* value) override {
    DeviceSet& s = deviceSet(set);
    char buffer[kPropertyBytes] = {};
    DWORD written = 0;
    if (!SetupDiGetDeviceRegistryPropertyA(s.info, &s.device, propertyCode(which), nullptr,
                                           reinterpret_cast<BYTE*>(buffer), sizeof buffer, &written)) {
      return failed(GetLastError());
    }
    *value = textOf(buffer, sizeof buffer, written);
    return true;
  }

  bool openDeviceKey(SystemHandle set, SystemHandle* key) override {
    DeviceSet& s = deviceSet(set);
    const HKEY opened = SetupDiOpenDevRegKey(s.info, &s.device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
    if (opened == INVALID_HANDLE_VALUE) return failed(GetLastError());
    *key = reinterpret_cast<SystemHandle>(opened);
    return true;
  }

  void closeDeviceSet(SystemHandle set) override {
    std::unique_ptr<DeviceSet> state(&deviceSet(set));
    SetupDiDestroyDeviceInfoList(state->info);
  }

  bool openKey(SystemHandle parent, const std::string& path, SystemHandle* key) override {
    HKEY opened = nullptr;
    const LONG result = RegOpenKeyExA(registryKey(parent), path.c_str(), 0, KEY_READ, &opened);
    if (result != ERROR_SUCCESS) return failed(static_cast<uint32_t>(result));
    *key = reinterpret_cast<SystemHandle>(opened);
    return true;
  }

  bool subkeyName(SystemHandle key, uint32_t index, std::string* name) override {
    char buffer[kSubkeyNameBytes] = {};
    DWORD length = sizeof buffer;
    const LONG result = RegEnumKeyExA(registryKey(key), index, buffer, &length, nullptr, nullptr, nullptr, nullptr);
    if (result != ERROR_SUCCESS) return failed(static_cast<uint32_t>(result));
    *name = textOf(buffer, sizeof buffer, length);
    return true;
  }

  bool readValue(SystemHandle key, const std::string& name, size_t bufferBytes, std::string* value) override {
    std::vector<char> buffer(bufferBytes, 0);
    DWORD written = static_cast<DWORD>(bufferBytes);
    const LONG result = RegQueryValueExA(registryKey(key), name.c_str(), nullptr, nullptr,
                                         reinterpret_cast<BYTE*>(buffer.data()), &written);
    if (result != ERROR_SUCCESS) return failed(static_cast<uint32_t>(result));
    *value = textOf(buffer.data(), buffer.size(), written);
    return true;
  }

  void closeKey(SystemHandle key) override { RegCloseKey(registryKey(key)); }

  bool canOpen(const std::string& devicePath) override {
    const HANDLE handle =
        CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return failed(GetLastError());
    CloseHandle(handle);
    return true;
  }

 private:
  static DWORD propertyCode(DeviceProperty which) {
    switch (which) {
      case DeviceProperty::Description:
        return SPDRP_DEVICEDESC;
      case DeviceProperty::PhysicalObjectName:
        return SPDRP_PHYSICAL_DEVICE_OBJECT_NAME;
      case DeviceProperty::LocationInformation:
        return SPDRP_LOCATION_INFORMATION;
    }
    return SPDRP_DEVICEDESC;
  }

  bool failed(uint32_t error) {
    m_lastError = error;
    return false;
  }

  uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<PortSystem> makeWin32PortSystem() { return std::make_unique<Win32PortSystem>(); }

void EnumerateSerialPorts(SerInfoList& list, int ignoreBusy, int useModemClass, int clearFirst) {
  Win32PortSystem system;
  EnumerateSerialPorts(system, list, ignoreBusy, useModemClass, clearFirst);
}

}  // namespace hx
