#pragma once
// The download agent's connection and command set. Every command is a command
// byte followed by big-endian fields; each returns 0 or its own result code.
#include <cstddef>
#include <cstdint>

#include "formats/image_buffer.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

enum AgentResult : int {
  kAgentConnectFailed = 4004,     // connection: send/read failure, missing ack, device table failure
  kAgentVersionWrong = 4003,      // connection: version bytes are not 03 02
  kAgentChipUnknown = 1016,       // connection: unknown baseband chip type
  kAgentE0Failed = 1001,          // command 0xE0: send or read failure
  kAgentE0Refused = 4006,         // command 0xE0: answer other than 0x5A
  kPacketPaddingFailed = 3,       // packet writer: a padding byte could not be sent
  kPacketSumFailed = 4,           // packet writer: the packet sum could not be sent
  kPacketFailed = 4008,           // packet writer: acknowledge byte, data, or the agent's answer
  kBlockCommandFailed = 4007,     // block writes: the command exchange failed
  kBlockPacketFailed = 9,         // block writes: the packet writer failed
  kBlockChecksumDiffers = 12,     // write-block: the agent's checksum differs
  kBlockBad = 3041,               // block writes: the target block is bad (also the status the agent sends)
  kReadBackAddressUnaligned = 4017,
  kReadBackLengthUnaligned = 4018,
  kReadBackFailed = 3100,
  kFormatFailed = 3019,
  kWatchdogFailed = 4012,
};

// Shared-data read results by step (a nonzero agent status is returned as is).
enum SharedDataResult : int {
  kSharedSendCommand = 1,
  kSharedReadStatus = 2,
  kSharedReadAck = 4,
  kSharedAckWrong = 5,
  kSharedSendType = 6,
  kSharedReadTypeAck = 7,
  kSharedTypeAckWrong = 8,
  kSharedReadLength = 9,
  kSharedReadData = 10,
};

inline constexpr size_t kNorRecordBytes = 36;
inline constexpr size_t kNandRecordBytes = 52;
inline constexpr uint32_t kBlockPacketBytes = 0x4200;  // one write-block packet: 16896 bytes
// Read-back requests: the address on a 2 KiB page boundary, the length in
// whole 4 KiB transfer chunks (0x1000 and 0x1800 is refused for its length).
inline constexpr uint32_t kReadBackAddressAlignment = 0x800;
inline constexpr uint32_t kReadBackLengthAlignment = 0x1000;
inline constexpr uint8_t kReadBackPagesWithSpare = 0;
inline constexpr uint8_t kReadBackDataOnly = 1;

// One NAND block as the block writes send it: the pages' data bytes and their
// spare bytes, each concatenated.
struct BlockPages {
  uint32_t pageSize = 0;
  uint32_t spareSize = 0;
  uint32_t pagesPerBlock = 0;
  const uint8_t* pageData = nullptr;   // pageSize x pagesPerBlock bytes
  const uint8_t* spareData = nullptr;  // spareSize x pagesPerBlock bytes
};

// Connects to the agent, reporting its steps to `report`.
int connectAgent(Link& link, const ImageBuffer& norTable, const ImageBuffer& nandTable, SessionReport& report);
int sendDeviceTable(Link& link, const ImageBuffer& table, size_t recordSize);
int agentCommandE0(Link& link);

// Reads the bootloader's shared data of `type`. The announced length goes to
// *length; bytes beyond `capacity` are read and dropped.
int readBootloaderSharedData(Link& link, uint32_t type, uint8_t* dest, size_t capacity, uint32_t* length);

// Sends `total` bytes as 0x5A-led packets of `packetSize`, resending a packet
// the agent does not take. 3041 when the agent reports the block bad.
int sendPackets(Link& link, const uint8_t* bytes, uint32_t total, uint32_t packetSize, bool withSum);

// The block writes log the block they write to `report`.
int writeBlock(Link& link, uint32_t block, const BlockPages& pages, uint16_t expectedChecksum, SessionReport& report);
int writePages(Link& link, uint32_t block, const uint32_t* pageIndexes, uint32_t pageCount, const BlockPages& pages,
               SessionReport& report);

// Reads `length` bytes of NAND from `address` (mode 1 page data only, 0 pages
// with spare bytes) into dest, which holds `capacity` bytes.
int readBack(Link& link, uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity);

int formatRange(Link& link, uint8_t flag0, uint8_t flag1, uint8_t flag2, uint32_t start, uint32_t length);
int enableWatchdog(Link& link, uint16_t value);

}  // namespace hx
