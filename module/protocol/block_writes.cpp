#include <algorithm>
#include <vector>

#include "formats/agent_transfer_framing.h"
#include "platform/clock.h"
#include "protocol/agent_commands.h"
#include "protocol/agent_command_bytes.h"
#include "protocol/agent_wire.h"
#include "link/link_ops.h"

namespace hx {
namespace {

// The agent's answer to one packet.
enum class PacketAnswer { Taken, Resend, BadBlock, Failed };

// After 0xA5 or 0x96 the agent sends a u32 status: 3041 means the block is
// bad; anything else is a failure, never a success.
PacketAnswer readRefusalStatus(Link& link) {
  uint32_t status = 0;
  if (readU32Waiting(link, &status) != kLinkOk) return PacketAnswer::Failed;
  return isExpected(link, LinkCause::Subject::Status, status, kBlockBad) ? PacketAnswer::BadBlock
                                                                         : PacketAnswer::Failed;
}

// A byte other than the three the agent answers a packet with asks for the
// packet again; it is noted, in case the agent never takes it.
PacketAnswer readPacketAnswer(Link& link) {
  uint8_t b = 0;
  if (readByteWaiting(link, &b) != kLinkOk) return PacketAnswer::Failed;
  if (b == kAgentContinue) return PacketAnswer::Taken;
  if (b == kAgentRefusal || b == kAgentFailure) return readRefusalStatus(link);
  link.noteCause(LinkCause::unexpected(LinkCause::Subject::Byte, b, kAgentContinue));
  return PacketAnswer::Resend;
}

// A packet as it goes out: 0x5A, then the packet's bytes. Each packet is built
// once, in place, in a buffer its transfer reuses for the next one.
class PacketFrame {
 public:
  explicit PacketFrame(size_t packetBytes) : m_bytes(1 + packetBytes) { m_bytes[0] = kAgentAck; }
  // For a packet of another length; the buffer keeps its room.
  void resize(size_t packetBytes) { m_bytes.resize(1 + packetBytes); }
  uint8_t* packet() { return m_bytes.data() + 1; }
  const uint8_t* data() const { return m_bytes.data(); }
  size_t size() const { return m_bytes.size(); }

 private:
  std::vector<uint8_t> m_bytes;
};

// Sends a framed packet, then any zero padding up to the packet size and the
// optional sum, until the agent takes it, within the reply bound. A packet that
// needs neither (every block-write packet) goes out in one write.
int sendFramedPacket(Link& link, const PacketFrame& frame, size_t paddingBytes, const uint8_t* sum) {
  const std::vector<uint8_t> padding(paddingBytes, 0);
  const Deadline bound(kReplyBoundMs);
  for (;;) {
    if (writeBytes(link, frame.data(), frame.size()) != kLinkOk) return kPacketFailed;
    if (!padding.empty() && writeBytes(link, padding.data(), padding.size()) != kLinkOk) return kPacketPaddingFailed;
    if (sum != nullptr && writeBytes(link, sum, 2) != kLinkOk) return kPacketSumFailed;
    switch (readPacketAnswer(link)) {
      case PacketAnswer::Taken: return 0;
      case PacketAnswer::BadBlock: return kBlockBad;
      case PacketAnswer::Failed: return kPacketFailed;
      case PacketAnswer::Resend: break;
    }
    if (bound.expired()) return kPacketFailed;
  }
}

// The header of a block write is answered with 0x5A; a refusal (0xA5) carries
// a u32 status, 3041 when the target block is bad.
int readBlockCommandAck(Link& link) {
  uint8_t b = 0;
  if (readByteWaiting(link, &b) != kLinkOk) return kBlockCommandFailed;
  if (b == kAgentAck) return 0;
  uint32_t status = 0;
  if (readU32Waiting(link, &status) != kLinkOk) return kBlockCommandFailed;
  if (b == kAgentRefusal && status == static_cast<uint32_t>(kBlockBad)) return kBlockBad;
  if (b == kAgentRefusal) link.noteCause(LinkCause::unexpected(LinkCause::Subject::Status, status, kBlockBad));
  else link.noteCause(LinkCause::unexpected(LinkCause::Subject::Byte, b, kAgentAck));
  return kBlockCommandFailed;
}

// The command byte and its u32 fields in one frame, sized by the fields.
template <size_t N>
int sendBlockCommand(Link& link, uint8_t command, const uint32_t (&fields)[N]) {
  uint8_t frame[1 + N * 4] = {command};
  uint8_t* p = frame + 1;
  for (uint32_t f : fields) p = putU32(p, f);
  if (writeBytes(link, frame, sizeof frame) != kLinkOk) return kBlockCommandFailed;
  return readBlockCommandAck(link);
}

// Whether the pages can go out at all: a geometry the packets carry, and the
// page bytes to send.
bool canSend(const BlockPages& pages) {
  return blockWritesCanFrame(pages.pageSize, pages.spareSize, pages.pagesPerBlock) && pages.pageData != nullptr &&
         pages.spareData != nullptr;
}

// Every listed page index inside the block.
bool pagesInBlock(const uint32_t* pageIndexes, uint32_t pageCount, uint32_t pagesPerBlock) {
  if (pageCount == 0) return true;
  if (pageIndexes == nullptr) return false;
  return std::all_of(pageIndexes, pageIndexes + pageCount, [pagesPerBlock](uint32_t k) { return k < pagesPerBlock; });
}

// Interleaves `count` pages from `first` on into `out`: each page's data, then
// its spare bytes.
void buildPacket(const BlockPages& pages, uint32_t first, uint32_t count, uint8_t* out) {
  for (uint32_t p = first; p < first + count; ++p) {
    const uint8_t* data = pages.pageData + static_cast<size_t>(p) * pages.pageSize;
    const uint8_t* spare = pages.spareData + static_cast<size_t>(p) * pages.spareSize;
    out = std::copy(data, data + pages.pageSize, out);
    out = std::copy(spare, spare + pages.spareSize, out);
  }
}

// Reads the agent's sum of a page written by write-pages (not compared) and
// confirms it with 0x5A.
bool closePage(Link& link) {
  uint16_t pageSum = 0;
  return readU16Waiting(link, &pageSum) == kLinkOk && writeU8(link, kAgentAck) == kLinkOk;
}

}  // namespace

int sendPackets(Link& link, const uint8_t* bytes, uint32_t total, uint32_t packetSize, bool withSum) {
  if (bytes == nullptr || total == 0 || packetSize == 0) return kPacketFailed;
  PacketFrame frame(std::min(packetSize, total));
  for (uint32_t offset = 0; offset < total; offset += packetSize) {
    const uint32_t length = std::min(packetSize, total - offset);
    frame.resize(length);
    std::copy(bytes + offset, bytes + offset + length, frame.packet());
    uint8_t sum[2] = {};
    if (withSum) putU16(sum, byteSum16(bytes + offset, length));
    if (const int rc = sendFramedPacket(link, frame, packetSize - length, withSum ? sum : nullptr); rc != 0) return rc;
    if (total - offset <= packetSize) break;
  }
  return 0;
}

int writeBlock(Link& link, uint32_t block, const BlockPages& pages, uint16_t expectedChecksum, SessionReport& report) {
  report.log("Write Block num = %u\n", block);
  if (!canSend(pages)) return kBlockCommandFailed;
  if (const int rc = sendBlockCommand(link, kCmdWriteBlock,
                                      {block, pages.pageSize, pages.spareSize, pages.pagesPerBlock});
      rc != 0)
    return rc;

  const uint32_t perPacket = pagesPerBlockPacket(pages.pageSize, pages.spareSize);
  PacketFrame frame(kBlockPacketBytes);
  for (uint32_t first = 0; first < pages.pagesPerBlock; first += perPacket) {
    buildPacket(pages, first, perPacket, frame.packet());
    const int rc = sendFramedPacket(link, frame, 0, nullptr);
    if (rc == kBlockBad) return kBlockBad;
    if (rc != 0) return kBlockPacketFailed;
  }
  uint16_t agentChecksum = 0;
  if (readU16Waiting(link, &agentChecksum) != kLinkOk) return kBlockChecksumDiffers;
  return isExpected(link, LinkCause::Subject::Checksum, agentChecksum, expectedChecksum) ? 0 : kBlockChecksumDiffers;
}

int writePages(Link& link, uint32_t block, const uint32_t* pageIndexes, uint32_t pageCount, const BlockPages& pages,
               SessionReport& report) {
  report.log("Write Block num = %u\n", block);
  if (!canSend(pages) || !pagesInBlock(pageIndexes, pageCount, pages.pagesPerBlock)) return kBlockCommandFailed;
  if (const int rc = sendBlockCommand(link, kCmdWritePages,
                                      {block, pageCount, pages.pageSize, pages.spareSize, pages.pagesPerBlock});
      rc != 0)
    return rc;
  if (pageCount == 0) return 0;

  PacketFrame frame(pages.pageSize + pages.spareSize);
  for (uint32_t i = 0; i < pageCount; ++i) {
    const uint32_t k = pageIndexes[i];
    if (writeU32(link, k) != kLinkOk) return kBlockCommandFailed;
    buildPacket(pages, k, 1, frame.packet());
    const int rc = sendFramedPacket(link, frame, 0, nullptr);
    if (rc == kBlockBad) return kBlockBad;
    // Each page ends with the agent's sum of it and the host's 0x5A, also
    // after a packet that failed; the failure is reported after that.
    const bool closed = closePage(link);
    if (rc != 0) return kBlockPacketFailed;
    if (!closed) return kBlockCommandFailed;
  }
  return 0;
}

}  // namespace hx
