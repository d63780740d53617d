#include "protocol/bootloader_upload.h"

#include <algorithm>

#include "formats/little_endian.h"
#include "protocol/agent_command_bytes.h"
#include "protocol/agent_wire.h"
#include "formats/bootloader_info.h"
#include "protocol/session_report.h"
#include "link/link_ops.h"

namespace hx {
namespace {

constexpr uint32_t kPacketBytes = 4096;

// How each image's packets fail: the ext bootloader's wrong answer carries a
// u32 that is read first; a bootloader packet sum that cannot be sent is 4008.
struct PacketRules {
  bool readDetailOnWrongAnswer;
  int sumFailure;
};
constexpr PacketRules kExtRules{true, kBootloaderUploadFailed};
constexpr PacketRules kBootloaderRules{false, kBootloaderSendFailed};

bool usable(const ImageBuffer& image) { return image.data != nullptr || image.length == 0; }

int sendHeader(Link& link, const ImageBuffer& bootloader, const ImageBuffer& ext, const uint8_t* info) {
  const uint32_t seed = loadLe32(info + kBootloaderInfoSeedOffset);
  uint8_t header[4 + 4 + 4 + 4 + 4 + 32] = {};
  uint8_t* p = putU32(header, kPacketBytes);
  p = std::copy(info + kBootloaderInfoHeaderWordOffset, info + kBootloaderInfoHeaderWordOffset + 4, p);
  p = putU32(p, bootloader.length);
  p = putU32(p, loadLe32(info + kBootloaderInfoExtraWordOffset));
  putU32(p, bootloaderWordChecksum(bootloader, seed));  // followed by 32 zero bytes
  if (writeBytes(link, header, 20) != kLinkOk || writeBytes(link, header + 20, 32) != kLinkOk)
    return kBootloaderUploadFailed;
  if (writeU8(link, kAgentAck) != kLinkOk) return kBootloaderSendFailed;
  uint8_t extHeader[8];
  putU32(putU32(extHeader, ext.length), bootloaderWordChecksum(ext, seed));
  if (writeBytes(link, extHeader, sizeof extHeader) != kLinkOk) return kBootloaderUploadFailed;
  return readAcknowledgement(link) ? 0 : kBootloaderUploadFailed;
}

int sendImagePackets(Link& link, const ImageBuffer& image, const PacketRules& rules, SessionReport& report) {
  for (uint32_t offset = 0; offset < image.length; offset += kPacketBytes) {
    const uint32_t n = std::min(kPacketBytes, image.length - offset);
    const uint8_t* packet = image.data + offset;
    uint8_t sum[2];
    putU16(sum, byteSum16(packet, n));
    if (writeBytes(link, packet, n) != kLinkOk) return kBootloaderUploadFailed;
    if (writeBytes(link, sum, sizeof sum) != kLinkOk) return rules.sumFailure;
    uint8_t answer = 0;
    if (readByteWaiting(link, &answer) != kLinkOk) return kBootloaderUploadFailed;
    if (answer != kAgentContinue) {
      uint32_t detail = 0;
      if (rules.readDetailOnWrongAnswer) readU32Waiting(link, &detail);
      link.noteCause(LinkCause::unexpected(LinkCause::Subject::Byte, answer, kAgentContinue));
      return kBootloaderUploadFailed;
    }
    report.progress(percentOf(offset + n, image.length));
    if (image.length - offset <= kPacketBytes) break;
  }
  return 0;
}

}  // namespace

uint32_t bootloaderWordChecksum(const ImageBuffer& image, uint32_t seed) {
  uint32_t sum = seed;
  for (uint32_t i = 0; i < image.length; i += 4) {
    uint8_t word[4] = {};
    std::copy(image.data + i, image.data + std::min(image.length, i + 4), word);
    sum ^= loadLe32(word);
    if (image.length - i <= 4) break;
  }
  return sum;
}

int writeBootloader(Link& link, const ImageBuffer& bootloader, const ImageBuffer& extBootloader,
                    const uint8_t* bootloaderInfo, SessionReport& report) {
  report.step(0, "Start Write Bootloader");
  if (bootloaderInfo == nullptr || !usable(bootloader) || !usable(extBootloader)) return kBootloaderUploadFailed;

  uint8_t answer = 0;
  if (writeU8(link, kCmdWriteBootloader) != kLinkOk || readU8(link, &answer) != kLinkOk ||
      !isExpected(link, LinkCause::Subject::Byte, answer, kAgentAck))
    return kBootloaderUploadFailed;
  if (const int rc = sendHeader(link, bootloader, extBootloader, bootloaderInfo); rc != 0) return rc;

  report.step(0, "Send ext Bootloader");
  if (const int rc = sendImagePackets(link, extBootloader, kExtRules, report); rc != 0) return rc;
  if (const int rc = sendImagePackets(link, bootloader, kBootloaderRules, report); rc != 0) return rc;
  if (!readAcknowledgement(link)) return kBootloaderUploadFailed;

  report.progress(100);
  report.step(100, "Write Bootloader Complete");
  return 0;
}

}  // namespace hx
