#pragma once
// The download agent's connection and command set. Every command is a command
// byte (agent_command_bytes.h) followed by big-endian fields; each returns 0
// or its own result code. The writers in download/ compose these: nothing
// outside this folder frames an agent command or reads its answers.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "formats/agent_transfer_framing.h"
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
  kImageListFailed = 4007,        // NAND image list: a send failed or an answer was not 0x5A
  kNfbWriteFailed = 4008,         // NFB write: a send failed, an answer was wrong, or an image was given up
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

// The block writes log the block they write to `report`. A block whose
// geometry the packets cannot carry (blockWritesCanFrame), or a page index
// outside it, is refused with 4007 before the command is sent: a command
// begun and then abandoned would leave the agent mid-command.
int writeBlock(Link& link, uint32_t block, const BlockPages& pages, uint16_t expectedChecksum, SessionReport& report);
int writePages(Link& link, uint32_t block, const uint32_t* pageIndexes, uint32_t pageCount, const BlockPages& pages,
               SessionReport& report);

// Reads `length` bytes of NAND from `address` (mode 1 page data only, 0 pages
// with spare bytes) into dest, which holds `capacity` bytes.
int readBack(Link& link, uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity);

// The format command's three flag bytes, in the order they are sent. The FS
// writer formats with three combinations, named below for what each formats.
struct FormatFlags {
  uint8_t first = 0;
  uint8_t second = 0;
  uint8_t third = 0;
};
inline constexpr FormatFlags kFormatFsArea{1, 0, 1};          // the whole FS area: the phone holds another FS version
inline constexpr FormatFlags kFormatReservedBlocks{1, 1, 0};  // the FS's spares: the phone holds no info block
inline constexpr FormatFlags kFormatOldInfoBlock{1, 0, 0};    // the phone's old info block, once the new one is written

int formatRange(Link& link, FormatFlags flags, uint32_t start, uint32_t length);
int enableWatchdog(Link& link, uint16_t value);

// An inclusive range of byte offsets.
struct ByteRange {
  uint32_t first = 0;
  uint32_t last = 0;
};

// The NAND image list: where the ROM information record lies in the primary
// ROM image, then the byte ranges the primary and the secondary ROM image
// occupy, each answered 0x5A. 0 or 4007.
int sendImageListRanges(Link& link, ByteRange romInfoRecord, ByteRange primary, ByteRange secondary);

// The NFB write, exchange by exchange: the writer streams the ROM images in
// chunks between them. Each is 0 or 4008.
inline constexpr uint32_t kNfbChunkBytes = 0x1000;
// The command and the chunk size, each answered 0x5A.
int startNfbWrite(Link& link);
// One chunk and its byte sum in one write, answered 0x69. The frame is built
// in a buffer kept for the next chunk.
class NfbChunkSender {
 public:
  explicit NfbChunkSender(Link& link) : m_link(link) { m_frame.reserve(kNfbChunkBytes + 2); }
  int send(const uint8_t* chunk, uint32_t length);

 private:
  Link& m_link;
  std::vector<uint8_t> m_frame;
};
// After the last chunk of both images: the agent's two 0x5A.
int readNfbImagesStored(Link& link);
// An image's check: 0x5A and the byte sum of the whole image, answered 0x5A.
int sendNfbImageCheck(Link& link, const uint8_t* bytes, uint32_t length);
// Gives the write up (0xA5), in place of an empty image's check.
void giveUpNfbWrite(Link& link);
// The agent's last 0x5A, after both checks.
int readNfbWriteDone(Link& link);

}  // namespace hx
