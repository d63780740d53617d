#include "hxphone/phone_record.h"

namespace hxphone {

using nlohmann::json;

PhoneRecord::PhoneRecord()
    : m_json{{"outcome", "running"},
             {"error", ""},
             {"bootrom", {{"handshakes", 0}, {"registerWrites", json::array()}, {"registerReads", json::array()},
                          {"agentImages", json::array()}, {"jump", nullptr}}},
             {"commands", json::array()},
             {"sharedData", json::array()},
             {"images", json::array()},
             {"formats", json::array()},
             {"blockWrites", json::array()},
             {"readBacks", json::array()},
             {"watchdog", nullptr}} {}

void PhoneRecord::handshakeDone() {
  std::lock_guard lock(m_mutex);
  m_json["bootrom"]["handshakes"] = m_json["bootrom"]["handshakes"].get<int>() + 1;
}

void PhoneRecord::registerWrite(uint32_t address, uint16_t value) {
  std::lock_guard lock(m_mutex);
  m_json["bootrom"]["registerWrites"].push_back({{"address", address}, {"value", value}});
}

void PhoneRecord::registerRead(uint32_t address, uint16_t value) {
  std::lock_guard lock(m_mutex);
  m_json["bootrom"]["registerReads"].push_back({{"address", address}, {"value", value}});
}

void PhoneRecord::agentImage(const std::string& name, uint32_t address, uint32_t length, uint16_t checksum) {
  std::lock_guard lock(m_mutex);
  m_json["bootrom"]["agentImages"].push_back(
      {{"name", name}, {"address", address}, {"length", length}, {"checksum", checksum}});
}

void PhoneRecord::jump(uint32_t address) {
  std::lock_guard lock(m_mutex);
  m_json["bootrom"]["jump"] = address;
}

void PhoneRecord::command(const std::string& name) {
  std::lock_guard lock(m_mutex);
  m_json["commands"].push_back(name);
}

void PhoneRecord::image(const std::string& name, uint32_t length, json details) {
  std::lock_guard lock(m_mutex);
  details["name"] = name;
  details["length"] = length;
  m_json["images"].push_back(std::move(details));
}

void PhoneRecord::format(json entry) {
  std::lock_guard lock(m_mutex);
  m_json["formats"].push_back(std::move(entry));
}

void PhoneRecord::blockWrite(json entry) {
  std::lock_guard lock(m_mutex);
  m_json["blockWrites"].push_back(std::move(entry));
}

void PhoneRecord::readBack(json entry) {
  std::lock_guard lock(m_mutex);
  m_json["readBacks"].push_back(std::move(entry));
}

void PhoneRecord::sharedData(uint32_t type) {
  std::lock_guard lock(m_mutex);
  m_json["sharedData"].push_back(type);
}

void PhoneRecord::watchdog(uint16_t value) {
  std::lock_guard lock(m_mutex);
  m_json["watchdog"] = value;
}

void PhoneRecord::ended(const std::string& outcome, const std::string& why) {
  std::lock_guard lock(m_mutex);
  m_json["outcome"] = outcome;
  m_json["error"] = why;
}

json PhoneRecord::toJson() const {
  std::lock_guard lock(m_mutex);
  return m_json;
}

}  // namespace hxphone
