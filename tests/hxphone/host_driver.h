#pragma once
// A small test-side host: speaks the host's half of the BootROM and agent
// protocols byte by byte over a socket pair, written from the protocol's
// description for these tests (it shares no code with the module). Every
// read waits at most a few seconds and throws when nothing comes.
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "hxphone/virtual_phone.h"

namespace hxphone::test {

using Bytes = std::vector<uint8_t>;

class HostDriver {
 public:
  // Runs `phone` on its own thread on one end of a socket pair; when the
  // phone's run ends its end is shut down, as a phone unplugging.
  explicit HostDriver(VirtualPhone& phone);
  ~HostDriver();

  // Raw bytes.
  void send(const Bytes& bytes);
  void sendU8(uint8_t v);
  void sendU16(uint16_t v);
  void sendU32(uint32_t v);
  Bytes receive(size_t n);
  uint8_t receiveU8();
  uint16_t receiveU16();
  uint32_t receiveU32();
  // A byte if one comes within `wait`.
  std::optional<uint8_t> tryReceiveU8(std::chrono::milliseconds wait);
  // Closes the host's end (the host unplugs its side) and waits for the phone.
  Outcome finish();

  // BootROM.
  void handshake();
  void write16(uint32_t address, uint16_t value);
  uint16_t read16(uint32_t address);
  void sendAgentImage(uint32_t address, const Bytes& image);
  uint16_t agentChecksum(uint32_t address, uint32_t words);
  void jump(uint32_t address);
  void disableWatchdog();
  void latchPowerKey();
  // Handshake, watchdog off, power key, DA1 and DA2 with checks, jump.
  void connectBootRom(const Bytes& da1, const Bytes& da2);

  // Agent.
  struct AgentHello {
    size_t skipped = 0;  // bytes before 0xC0
    uint8_t version[2] = {0, 0};
    uint8_t chipType = 0;
  };
  AgentHello awaitAgent();
  void sendConfiguration(uint8_t chipType);
  // Sends a table record by record; returns the index of the record answered 0x5A, or -1.
  int sendTable(const Bytes& table, size_t recordSize);
  // The whole connection with the given tables.
  void connectAgent(const Bytes& norTable, const Bytes& nandTable);
  uint8_t commandE0();
  Bytes sharedData(uint32_t type);
  // The word checksums use the record's seed unless another is given.
  void writeBootloader(const Bytes& bootloader, const Bytes& ext, std::optional<uint32_t> seed = std::nullopt);
  void sendImageList(const Bytes& primary, const Bytes& secondary);
  void writeNfb(const Bytes& primary, const Bytes& secondary);
  // Everything from the handshake up to and including the NFB images.
  void upToNfb(const Bytes& primary, const Bytes& secondary);
  // The same, starting after the agent connection.
  void upToNfbAfterConnect(const Bytes& primary, const Bytes& secondary);

  struct ReadBack {
    uint32_t a1 = 0, a2 = 0, a3 = 0, total = 0;
    Bytes data;
    int badSums = 0;
  };
  ReadBack readBack(uint8_t mode, uint32_t address, uint32_t length);
  // Format: returns the statuses the phone sent, in order.
  std::vector<uint32_t> format(uint8_t f0, uint8_t f1, uint8_t f2, uint32_t start, uint32_t length);
  // Write-block with the block's raw bytes (pages with spare); returns
  // "ok:<checksum>", "bad:<status>" at the header or "failed:<status>" after a packet.
  std::string writeBlock(uint32_t block, const Bytes& raw, const NandGeometry& g, int* resendsSeen = nullptr);
  std::string writePages(uint32_t block, const std::vector<uint32_t>& pages, const Bytes& raw, const NandGeometry& g);
  uint8_t enableWatchdog(uint16_t value);

 private:
  VirtualPhone& m_phone;
  int m_fd = -1;
  int m_phoneFd = -1;
  std::thread m_thread;
};

}  // namespace hxphone::test
