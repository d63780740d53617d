#include "ports/port_enumeration.h"

#include <cctype>
#include <cstdio>
#include <functional>

namespace hx {
namespace {

constexpr size_t kRegistryValueBytes = 128;
// "portname" of a device's hardware key: at most six characters, enough for COM255.
constexpr size_t kDevicePortNameBytes = 7;
constexpr const char* kDevicePrefix = "\\\\.\\";
constexpr const char* kEnumText = "Could not read from HKLM\\Enum";

[[noreturn]] void fail(const std::string& text) { throw PortEnumerationError(text); }

// "<what> (err=<code in hexadecimal>)".
[[noreturn]] void failWithCode(const char* what, uint32_t code) {
  char text[128];
  std::snprintf(text, sizeof text, "%s (err=%lx)", what, static_cast<unsigned long>(code));
  fail(text);
}

// A registry key opened for one step and closed when the step ends, however it ends.
class OpenKey {
 public:
  OpenKey(PortSystem& system, SystemHandle parent, const std::string& path) : m_system(system) {
    if (!system.openKey(parent, path, &m_key)) m_key = 0;
  }
  OpenKey(const OpenKey&) = delete;
  OpenKey& operator=(const OpenKey&) = delete;
  ~OpenKey() {
    if (m_key) m_system.closeKey(m_key);
  }
  explicit operator bool() const { return m_key != 0; }
  SystemHandle handle() const { return m_key; }

 private:
  PortSystem& m_system;
  SystemHandle m_key = 0;
};

class OpenDeviceSet {
 public:
  OpenDeviceSet(PortSystem& system, bool modemClass) : m_system(system) {
    if (!system.openDeviceSet(modemClass, &m_set)) m_set = 0;
  }
  OpenDeviceSet(const OpenDeviceSet&) = delete;
  OpenDeviceSet& operator=(const OpenDeviceSet&) = delete;
  ~OpenDeviceSet() {
    if (m_set) m_system.closeDeviceSet(m_set);
  }
  explicit operator bool() const { return m_set != 0; }
  SystemHandle handle() const { return m_set; }

 private:
  PortSystem& m_system;
  SystemHandle m_set = 0;
};

// Calls `visit` with each subkey name of `key` until it returns false.
void forEachSubkey(PortSystem& system, SystemHandle key, const std::function<bool(const std::string&)>& visit) {
  std::string name;
  for (uint32_t index = 0; system.subkeyName(key, index, &name); ++index) {
    if (!visit(name)) return;
  }
}

// The value `name` of `key`, or an empty text when it cannot be read.
std::string valueOrEmpty(PortSystem& system, SystemHandle key, const std::string& name,
                         size_t bytes = kRegistryValueBytes) {
  std::string value;
  if (!system.readValue(key, name, bytes, &value)) return {};
  return value;
}

// The number of "COM%d" in `name`, low 8 bits; 0 when there is none.
uint8_t comNumber(const std::string& name) {
  if (name.compare(0, 3, "COM") != 0) return 0;
  size_t i = 3;
  while (i < name.size() && std::isspace(static_cast<unsigned char>(name[i]))) ++i;
  const bool negative = i < name.size() && name[i] == '-';
  if (i < name.size() && (name[i] == '-' || name[i] == '+')) ++i;
  uint32_t number = 0;
  for (; i < name.size() && std::isdigit(static_cast<unsigned char>(name[i])); ++i) {
    number = number * 10 + static_cast<uint32_t>(name[i] - '0');
  }
  return static_cast<uint8_t>(negative ? 0u - number : number);
}

bool equalIgnoringCase(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) return false;
  }
  return true;
}

// ---- Device-interface method (Windows 2000 and later) ----

// The record of the selected device, when its description and its physical
// device object name can be read.
void addInterfaceRecord(PortSystem& system, SystemHandle set, SerInfoList& list) {
  std::string friendlyName;
  const bool described = system.deviceProperty(set, DeviceProperty::Description, &friendlyName);
  std::string portName;
  SystemHandle key = 0;
  if (system.openDeviceKey(set, &key)) {
    portName = valueOrEmpty(system, key, "portname", kDevicePortNameBytes);
    system.closeKey(key);
  }
  std::string objectName;
  if (!described || !system.deviceProperty(set, DeviceProperty::PhysicalObjectName, &objectName)) return;
  std::string location;
  const bool onUsb =
      system.deviceProperty(set, DeviceProperty::LocationInformation, &location) && location.compare(0, 3, "USB") == 0;
  SSerInfo record;
  record.devicePath = kDevicePrefix + portName;
  record.friendlyName = friendlyName;
  record.portName = portName;
  record.portNumber = comNumber(portName);
  record.isUsb = onUsb ? 1 : 0;
  list.Add(record);
}

void collectDeviceInterfaces(PortSystem& system, SerInfoList& list, bool useModemClass) {
  OpenDeviceSet set(system, useModemClass);
  if (!set) failWithCode("SetupDiGetClassDevs failed.", system.lastError());
  for (uint32_t index = 0;; ++index) {
    if (!system.enumInterface(set.handle(), index)) {
      const uint32_t error = system.lastError();
      if (error == kErrorNoMoreItems) return;
      failWithCode("SetupDiEnumDeviceInterfaces failed.", error);
    }
    if (!system.interfaceDetail(set.handle())) {
      failWithCode("SetupDiGetDeviceInterfaceDetail failed.", system.lastError());
    }
    addInterfaceRecord(system, set.handle(), list);
  }
}

// ---- Numbered-port method (Windows NT 4) ----

void collectNumberedPorts(SerInfoList& list) {
  for (int n = 1; n <= 256; ++n) {
    SSerInfo record;
    record.portName = "COM" + std::to_string(n);
    record.devicePath = kDevicePrefix + record.portName;
    list.Add(record);
  }
}

// ---- Registry method (Windows 95/98/ME) ----

// Whether the device whose hardware key is `hardwareKey` is present: one of
// the configuration manager's devices names it.
bool devicePresent(PortSystem& system, const std::string& hardwareKey) {
  OpenKey devices(system, kDynDataKey, "Config Manager\\Enum");
  if (!devices) fail(kEnumText);
  bool present = false;
  forEachSubkey(system, devices.handle(), [&](const std::string& name) {
    OpenKey device(system, devices.handle(), name);
    if (!device) fail(std::string(kEnumText) + "\\" + name);
    std::string value;
    present = system.readValue(device.handle(), "HardWareKey", kRegistryValueBytes, &value) &&
              equalIgnoringCase(value, hardwareKey);
    return !present;
  });
  return present;
}

// The registry method lists a port name once: a later record replaces the first with its name.
void addOrReplace(SerInfoList& list, const SSerInfo& record) {
  for (size_t i = 0; i < list.GetSize(); ++i) {
    if (list[i].portName == record.portName) {
      list[i] = record;
      return;
    }
  }
  list.Add(record);
}

enum class PortKeys {
  Plain,      // "PORTNAME", "FRIENDLYNAME" or else "DeviceDesc"
  Guarded,    // as Plain, made only for a present device; "FRIENDLYNAME" only; no port number
  UsbSerial,  // "DeviceDesc" only, under the name USB_SERIAL
};

void readPortKey(PortSystem& system, SystemHandle key, PortKeys kind, int32_t flag, SerInfoList& list) {
  SSerInfo record;
  record.isUsb = flag;
  if (kind == PortKeys::UsbSerial) {
    std::string description;
    if (!system.readValue(key, "DeviceDesc", kRegistryValueBytes, &description)) return;
    record.devicePath = kDevicePrefix;
    record.portName = "USB_SERIAL";
    record.friendlyName = description + "(COM)";
    list.Add(record);
    return;
  }
  if (!system.readValue(key, "PORTNAME", kRegistryValueBytes, &record.portName)) return;
  record.devicePath = kDevicePrefix + record.portName;
  record.friendlyName = valueOrEmpty(system, key, "FRIENDLYNAME");
  if (kind == PortKeys::Guarded) {
    std::string upperDevice;
    if (flag && !(system.readValue(key, "CRUpperDeviceId", kRegistryValueBytes, &upperDevice) &&
                  devicePresent(system, upperDevice))) {
      return;
    }
  } else {
    if (record.friendlyName.empty()) record.friendlyName = valueOrEmpty(system, key, "DeviceDesc");
    record.portNumber = comNumber(record.portName);
  }
  addOrReplace(list, record);
}

// Reads every device key under HKLM\Enum\<k>\<s>, opened anew.
void readPortKeys(PortSystem& system, SystemHandle classKey, const std::string& k, const std::string& s, PortKeys kind,
                  int32_t flag, SerInfoList& list) {
  OpenKey parent(system, classKey, s);
  if (!parent) fail(std::string(kEnumText) + "\\" + k + "\\" + s);
  forEachSubkey(system, parent.handle(), [&](const std::string& d) {
    OpenKey device(system, parent.handle(), d);
    if (!device) fail(std::string(kEnumText) + "\\...\\" + d);
    readPortKey(system, device.handle(), kind, flag, list);
    return true;
  });
}

// The rules for subkey `s` of HKLM\Enum\<k>, in turn: several may apply.
void readEnumSubkey(PortSystem& system, SystemHandle classKey, const std::string& k, const std::string& s,
                    SerInfoList& list) {
  const int32_t usbPorts = k == "USBPORTS" ? 1 : 0;
  if (s == "*PNP0500" || s == "*PNP0501" || usbPorts) {
    readPortKeys(system, classKey, k, s, PortKeys::Plain, usbPorts, list);
  }
  if (k == "T900CR") readPortKeys(system, classKey, k, s, PortKeys::Guarded, 1, list);
  if (k == "T52XCR") readPortKeys(system, classKey, k, s, PortKeys::Guarded, 1, list);
  if (k == "ZVATCR") readPortKeys(system, classKey, k, s, PortKeys::Plain, 0, list);
  if (k == "USB" && s == "ZVMODEM") readPortKeys(system, classKey, k, s, PortKeys::Plain, 0, list);
  if (k == "USB" && s != "ZVMODEM" && s.find("VID_0403&PID_60") != std::string::npos) {
    readPortKeys(system, classKey, k, s, PortKeys::UsbSerial, 0, list);
  }
}

void collectRegistryPorts(PortSystem& system, SerInfoList& list) {
  OpenKey enumKey(system, kLocalMachineKey, "Enum");
  if (!enumKey) fail(kEnumText);
  forEachSubkey(system, enumKey.handle(), [&](const std::string& k) {
    OpenKey classKey(system, enumKey.handle(), k);
    if (!classKey) fail(std::string(kEnumText) + "\\" + k);
    forEachSubkey(system, classKey.handle(), [&](const std::string& s) {
      readEnumSubkey(system, classKey.handle(), k, s, list);
      return true;
    });
    return true;
  });
}

// ---- Post-processing ----

// Whether the record stays: a phone's port by name, and free when `ignoreBusy`.
bool keep(PortSystem& system, const SSerInfo& record, bool ignoreBusy) {
  if (!isPhonePortName(record.friendlyName)) return false;
  return !ignoreBusy || system.canOpen(record.devicePath);
}

void fillNames(SSerInfo& record) {
  if (record.friendlyName.empty()) record.friendlyName = record.portName;
  if (record.description.empty()) {
    record.description = record.friendlyName;
    const size_t cut = record.description.find(" #");
    if (cut != std::string::npos && cut > 0) record.description.resize(cut);
  }
}

void postProcess(PortSystem& system, SerInfoList& list, bool ignoreBusy) {
  for (size_t i = 0; i < list.GetSize();) {
    if (!keep(system, list[i], ignoreBusy)) {
      list.RemoveAt(i);  // the next record moves into its place
      continue;
    }
    fillNames(list[i]);
    ++i;
  }
}

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool isPhonePortName(const std::string& name) {
  static constexpr const char* kPhonePortPrefixes[] = {
      "ZVE CDMA USB Modem",
      "ZVE Mobile USB Modem",
      "ZVE Mobile USB Serial Port",
      "ZVE CDMA USB Serial Port",
      "FOMA L",
      "Qualcomm HS-USB Diag",
  };
  for (const char* prefix : kPhonePortPrefixes) {
    if (startsWith(name, prefix)) return true;
  }
  return startsWith(name, "FOMA SA") && name.find("OBEX") != std::string::npos;
}

void collectSerialPorts(PortSystem& system, SerInfoList& list, bool useModemClass) {
  WindowsVersion version;
  if (!system.version(&version)) failWithCode("Could not get OS version.", system.lastError());
  if (version.major >= 5) {
    collectDeviceInterfaces(system, list, useModemClass);
  } else if (version.platformId == kPlatformNt) {
    collectNumberedPorts(list);
  } else {
    collectRegistryPorts(system, list);
  }
}

void EnumerateSerialPorts(PortSystem& system, SerInfoList& list, int ignoreBusy, int useModemClass, int clearFirst) {
  // Built aside, so that a failure half-way leaves the caller's list as it was.
  SerInfoList ports = list;
  if (clearFirst) ports.RemoveAll();
  collectSerialPorts(system, ports, useModemClass != 0);
  postProcess(system, ports, ignoreBusy != 0);
  list = std::move(ports);
}

}  // namespace hx
