#pragma once
// What the port enumeration asks of the system: the Windows version, the
// device-interface walk with its device properties and registry value, the
// registry walk, and whether a port opens. The Win32 calls stand behind it on
// Windows; tests script it. Every failing call leaves its error code for
// lastError().
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace hx {

// An open registry key or device set; 0 is none.
using SystemHandle = std::uintptr_t;

// The two registry roots the walk starts from. They are never closed.
inline constexpr SystemHandle kLocalMachineKey = 1;  // HKEY_LOCAL_MACHINE
inline constexpr SystemHandle kDynDataKey = 2;       // HKEY_DYN_DATA

// The system's error code for a walk that has no more items.
inline constexpr uint32_t kErrorNoMoreItems = 259;

struct WindowsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t platformId = 0;
};
inline constexpr uint32_t kPlatformNt = 2;

// Device properties the device-interface walk reads (SPDRP_*).
enum class DeviceProperty { Description, PhysicalObjectName, LocationInformation };

class PortSystem {
 public:
  virtual ~PortSystem() = default;

  // The error code of the last call that failed.
  virtual uint32_t lastError() = 0;

  // GetVersionEx with the 148-byte version record.
  virtual bool version(WindowsVersion* version) = 0;

  // The present devices of the serial-port (or modem) interface class.
  virtual bool openDeviceSet(bool modemClass, SystemHandle* set) = 0;
  // Selects interface `index` of the set; fails with kErrorNoMoreItems past the last.
  virtual bool enumInterface(SystemHandle set, uint32_t index) = 0;
  // Reads the selected interface's detail (261-byte buffer) and its device.
  virtual bool interfaceDetail(SystemHandle set) = 0;
  // A text property of the selected device (256-byte buffer).
  virtual bool deviceProperty(SystemHandle set, DeviceProperty which, std::string* value) = 0;
  // The selected device's hardware registry key, for reading.
  virtual bool openDeviceKey(SystemHandle set, SystemHandle* key) = 0;
  virtual void closeDeviceSet(SystemHandle set) = 0;

  // Opens `path` (one name or several joined by '\') below `parent` for reading.
  virtual bool openKey(SystemHandle parent, const std::string& path, SystemHandle* key) = 0;
  // The name of subkey `index` (names up to 128 bytes); false past the last.
  virtual bool subkeyName(SystemHandle key, uint32_t index, std::string* name) = 0;
  // A text value read into a zeroed buffer of `bufferBytes`; false when it is
  // missing or does not fit.
  virtual bool readValue(SystemHandle key, const std::string& name, size_t bufferBytes, std::string* value) = 0;
  virtual void closeKey(SystemHandle key) = 0;

  // Whether `devicePath` opens for reading and writing without sharing (it is
  // closed again at once).
  virtual bool canOpen(const std::string& devicePath) = 0;
};

#if defined(_WIN32)
// The Win32 system: SetupAPI, the registry, CreateFile.
std::unique_ptr<PortSystem> makeWin32PortSystem();
#endif

}  // namespace hx
