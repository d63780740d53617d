#pragma once
// The record of what the host sent to one phone: BootROM traffic, agent
// commands, images, formats, block writes with their target blocks and
// read-backs, and how the session ended. Its JSON form is documented in
// README.md; tests and benchmarks read it.
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace hxphone {

class PhoneRecord {
 public:
  PhoneRecord();

  void handshakeDone();
  void registerWrite(uint32_t address, uint16_t value);
  void registerRead(uint32_t address, uint16_t value);
  void agentImage(const std::string& name, uint32_t address, uint32_t length, uint16_t checksum);
  void jump(uint32_t address);
  void command(const std::string& name);
  void image(const std::string& name, uint32_t length, nlohmann::json details = nlohmann::json::object());
  void format(nlohmann::json entry);
  void blockWrite(nlohmann::json entry);
  void readBack(nlohmann::json entry);
  void sharedData(uint32_t type);
  void watchdog(uint16_t value);
  void ended(const std::string& outcome, const std::string& why);

  nlohmann::json toJson() const;

 private:
  mutable std::mutex m_mutex;
  nlohmann::json m_json;
};

}  // namespace hxphone
