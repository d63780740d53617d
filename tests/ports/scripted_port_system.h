#pragma once
// A scripted system for the port enumeration: a Windows version, the devices
// of the serial-port and modem interface classes, two registry trees, ports
// that are busy, and calls that fail with a given error code. It counts the
// keys and device sets opened and not yet closed.
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "ports/port_system.h"

namespace hxtest {

// A device of an interface class; a property left empty cannot be read.
struct ScriptedDevice {
  std::optional<std::string> description;
  std::optional<std::string> objectName = "\\Device\\00000042";
  std::optional<std::string> location;
  std::optional<std::string> portName;  // "portname" of its hardware key
};

// A registry key: its values, and its subkeys in the order the system lists them.
struct ScriptedKey {
  std::map<std::string, std::string> values;
  std::vector<std::pair<std::string, ScriptedKey>> subkeys;

  // The subkey `path` (names joined by '\'), made where it is missing.
  ScriptedKey& at(const std::string& path) {
    ScriptedKey* key = this;
    std::istringstream names(path);
    for (std::string name; std::getline(names, name, '\\');) {
      auto it = key->subkeys.begin();
      while (it != key->subkeys.end() && it->first != name) ++it;
      if (it == key->subkeys.end()) it = key->subkeys.insert(it, {name, ScriptedKey{}});
      key = &it->second;
    }
    return *key;
  }
  ScriptedKey& set(const std::string& name, const std::string& value) {
    values[name] = value;
    return *this;
  }
};

class ScriptedPortSystem final : public hx::PortSystem {
 public:
  static constexpr uint32_t kNotFound = 2;     // ERROR_FILE_NOT_FOUND
  static constexpr uint32_t kMoreData = 234;   // ERROR_MORE_DATA
  static constexpr uint32_t kNoProperty = 13;  // ERROR_INVALID_DATA

  hx::WindowsVersion windowsVersion{10, 0, hx::kPlatformNt};
  std::vector<ScriptedDevice> serialPorts;
  std::vector<ScriptedDevice> modems;
  ScriptedKey localMachine;  // HKLM: paths begin "HKLM\"
  ScriptedKey dynData;       // HKEY_DYN_DATA: paths begin "DYN\"
  std::set<std::string> busy;
  // Calls that fail, with their error code: "version", "device set",
  // "interface <i>", "detail <i>", "open <path>".
  std::map<std::string, uint32_t> failures;

  int openCount() const { return static_cast<int>(m_open.size()); }
  int badCloses() const { return m_badCloses; }
  int openTests() const { return m_openTests; }

  uint32_t lastError() override { return m_lastError; }

  bool version(hx::WindowsVersion* version) override {
    if (failing("version")) return false;
    *version = windowsVersion;
    return true;
  }

  bool openDeviceSet(bool modemClass, hx::SystemHandle* set) override {
    if (failing("device set")) return false;
    *set = add(Open{.devices = modemClass ? &modems : &serialPorts});
    return true;
  }
  bool enumInterface(hx::SystemHandle set, uint32_t index) override {
    Open& s = m_open.at(set);
    if (failing("interface " + std::to_string(index))) return false;
    if (index >= s.devices->size()) return failed(hx::kErrorNoMoreItems);
    s.interfaceIndex = index;
    return true;
  }
  bool interfaceDetail(hx::SystemHandle set) override {
    Open& s = m_open.at(set);
    if (failing("detail " + std::to_string(s.interfaceIndex))) return false;
    s.device = &(*s.devices)[s.interfaceIndex];
    return true;
  }
  bool deviceProperty(hx::SystemHandle set, hx::DeviceProperty which, std::string* value) override {
    const ScriptedDevice& d = *m_open.at(set).device;
    const std::optional<std::string>& property = which == hx::DeviceProperty::Description          ? d.description
                                                 : which == hx::DeviceProperty::PhysicalObjectName ? d.objectName
                                                                                                   : d.location;
    if (!property) return failed(kNoProperty);
    *value = *property;
    return true;
  }
  bool openDeviceKey(hx::SystemHandle set, hx::SystemHandle* key) override {
    auto hardwareKey = std::make_shared<ScriptedKey>();
    if (const auto& portName = m_open.at(set).device->portName) hardwareKey->set("portname", *portName);
    *key = add(Open{.key = hardwareKey.get(), .ownedKey = hardwareKey});
    return true;
  }
  void closeDeviceSet(hx::SystemHandle set) override { close(set, true); }

  bool openKey(hx::SystemHandle parent, const std::string& path, hx::SystemHandle* key) override {
    const Open from = parent == hx::kLocalMachineKey ? Open{.key = &localMachine, .path = "HKLM"}
                      : parent == hx::kDynDataKey    ? Open{.key = &dynData, .path = "DYN"}
                                                     : m_open.at(parent);
    const std::string fullPath = from.path + "\\" + path;
    if (failing("open " + fullPath)) return false;
    const ScriptedKey* found = from.key;
    std::istringstream names(path);
    for (std::string name; found && std::getline(names, name, '\\');) {
      const ScriptedKey* next = nullptr;
      for (const auto& [subName, sub] : found->subkeys) {
        if (subName == name) next = &sub;
      }
      found = next;
    }
    if (!found) return failed(kNotFound);
    *key = add(Open{.key = found, .path = fullPath});
    return true;
  }
  bool subkeyName(hx::SystemHandle key, uint32_t index, std::string* name) override {
    const ScriptedKey& k = *m_open.at(key).key;
    if (index >= k.subkeys.size()) return failed(hx::kErrorNoMoreItems);
    *name = k.subkeys[index].first;
    return true;
  }
  bool readValue(hx::SystemHandle key, const std::string& name, size_t bufferBytes, std::string* value) override {
    const ScriptedKey& k = *m_open.at(key).key;
    const auto it = k.values.find(name);
    if (it == k.values.end()) return failed(kNotFound);
    if (it->second.size() + 1 > bufferBytes) return failed(kMoreData);  // with its terminating zero
    *value = it->second;
    return true;
  }
  void closeKey(hx::SystemHandle key) override { close(key, false); }

  bool canOpen(const std::string& devicePath) override {
    ++m_openTests;
    return busy.count(devicePath) == 0;
  }

 private:
  struct Open {
    std::vector<ScriptedDevice>* devices = nullptr;  // a device set
    const ScriptedKey* key = nullptr;                // or a key
    std::string path;
    uint32_t interfaceIndex = 0;
    const ScriptedDevice* device = nullptr;
    std::shared_ptr<ScriptedKey> ownedKey;  // a device's hardware key
  };

  hx::SystemHandle add(Open open) {
    m_open[m_next] = std::move(open);
    return m_next++;
  }
  void close(hx::SystemHandle handle, bool deviceSet) {
    const auto it = m_open.find(handle);
    if (it == m_open.end() || (it->second.devices != nullptr) != deviceSet) {
      ++m_badCloses;
      return;
    }
    m_open.erase(it);
  }
  bool failed(uint32_t error) {
    m_lastError = error;
    return false;
  }
  bool failing(const std::string& call) {
    const auto it = failures.find(call);
    return it != failures.end() && !failed(it->second);
  }

  std::map<hx::SystemHandle, Open> m_open;
  hx::SystemHandle m_next = 100;
  uint32_t m_lastError = 0;
  int m_badCloses = 0;
  int m_openTests = 0;
};

}  // namespace hxtest
