// 0xDC: the bootloader and the ext bootloader.
//
//   host: DC                       phone: 5A
//   host: u32 4096 (packet size), 4 bytes of the bootloader information
//         (record offset 88), u32 bootloader length, u32 (record offset 96),
//         u32 bootloader word checksum, 32 zero bytes, 5A,
//         u32 ext bootloader length, u32 ext bootloader word checksum
//                                  phone: 5A
//   host: ext bootloader packets (<= 4096 bytes + u16 byte sum)  phone: 69 each
//   host: bootloader packets, the same                           phone: 69 each
//                                  phone: 5A (both images checked and stored)
//
// The word checksums are the seed (record offset 92) XOR the images'
// little-endian 32-bit words; the phone finds the record at the end of the
// bootloader it received (followed by its u32 length).
#include <cstring>
#include <vector>

#include "hxphone/agent_commands.h"
#include "hxphone/agent_connect.h"
#include "hxphone/flash_layout.h"
#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

constexpr uint32_t kPacketSize = 4096;
constexpr uint32_t kLongestBootloader = 4u << 20;
constexpr char kBootloaderMarker[] = "MTK_BLOADER_INFO_v";

struct BootloaderHeader {
  uint8_t infoBytes88[4] = {};
  uint32_t length = 0;
  uint32_t info96 = 0;
  uint32_t checksum = 0;
  uint32_t extLength = 0;
  uint32_t extChecksum = 0;
};

Ending receiveHeader(PhonePort& port, BootloaderHeader* h) {
  if (Ending end = port.expectU32(kPacketSize, "bootloader packet size")) return end;
  if (Ending end = port.readBytes(h->infoBytes88, 4, "bootloader information bytes 88..91")) return end;
  if (Ending end = port.readU32(&h->length, "bootloader length")) return end;
  if (Ending end = port.readU32(&h->info96, "bootloader information word 96")) return end;
  if (Ending end = port.readU32(&h->checksum, "bootloader checksum")) return end;
  uint8_t zeros[32];
  if (Ending end = port.readBytes(zeros, sizeof zeros, "32 zero bytes")) return end;
  for (uint8_t z : zeros)
    if (z != 0) return violation("bootloader header", "32 zero bytes", "a byte " + hex(z));
  if (Ending end = port.expectU8(kAck, "0x5A after the bootloader header")) return end;
  if (Ending end = port.readU32(&h->extLength, "ext bootloader length")) return end;
  if (Ending end = port.readU32(&h->extChecksum, "ext bootloader checksum")) return end;
  if (h->length == 0 || h->length > kLongestBootloader)
    return violation("bootloader header", "a bootloader length of 1.." + std::to_string(kLongestBootloader),
                     std::to_string(h->length));
  if (h->extLength > kLongestBootloader)
    return violation("bootloader header", "an ext bootloader length up to " + std::to_string(kLongestBootloader),
                     std::to_string(h->extLength));
  return kGoOn;
}

Ending receivePackets(SessionContext& ctx, uint32_t length, const char* name, std::vector<uint8_t>* image) {
  image->assign(length, 0);
  for (uint32_t offset = 0; offset < length;) {
    uint32_t n = std::min(kPacketSize, length - offset);
    if (Ending end = ctx.port.readBytes(image->data() + offset, n, name)) return end;
    uint16_t sum = 0;
    if (Ending end = ctx.port.readU16(&sum, "packet sum")) return end;
    uint16_t want = byteSum16({image->data() + offset, n});
    if (sum != want) {
      if (Ending end = ctx.port.writeByteAndU32(kRefuse, 1)) return end;
      return violation(std::string(name) + " packet at " + std::to_string(offset), "sum " + hex(want, 4), hex(sum, 4));
    }
    if (Ending end = ctx.port.writeU8(kContinue)) return end;
    offset += n;
  }
  return kGoOn;
}

// The bootloader information record at the end of the bootloader: its length
// L in the last four bytes, the record in the L bytes before them.
struct BootloaderInfo {
  uint8_t bytes88[4];
  uint32_t seed = 0;
  uint32_t word96 = 0;
};

bool findBootloaderInfo(const std::vector<uint8_t>& image, BootloaderInfo& info) {
  if (image.size() < 4) return false;
  uint32_t length = loadLe32(image.data() + image.size() - 4);
  if (length < 100 || length > image.size() - 4) return false;
  const uint8_t* record = image.data() + image.size() - 4 - length;
  if (std::memcmp(record, kBootloaderMarker, sizeof kBootloaderMarker - 1) != 0) return false;
  std::memcpy(info.bytes88, record + 88, 4);
  info.seed = loadLe32(record + 92);
  info.word96 = loadLe32(record + 96);
  return true;
}

// The header against the bootloader's information record, and both word
// checksums; a mismatch is refused with 0xA5.
Ending checkAgainstInfo(SessionContext& ctx, const BootloaderHeader& h, const std::vector<uint8_t>& bootloader,
                        const std::vector<uint8_t>& ext) {
  auto refuse = [&](const std::string& what, const std::string& expected, const std::string& got) -> Ending {
    if (Ending end = ctx.port.writeU8(kRefuse)) return end;
    return violation(what, expected, got);
  };
  BootloaderInfo info;
  if (!findBootloaderInfo(bootloader, info))
    return refuse("bootloader", "a bootloader information record at its end", "none");
  if (std::memcmp(info.bytes88, h.infoBytes88, 4) != 0)
    return refuse("bootloader header", "the record's bytes 88..91", "other bytes");
  if (info.word96 != h.info96)
    return refuse("bootloader header", "record word 96 = " + hex(info.word96, 8), hex(h.info96, 8));
  uint32_t sum = wordXor32(bootloader, info.seed);
  if (sum != h.checksum) return refuse("bootloader checksum", hex(sum, 8), hex(h.checksum, 8));
  uint32_t extSum = wordXor32(ext, info.seed);
  if (extSum != h.extChecksum) return refuse("ext bootloader checksum", hex(extSum, 8), hex(h.extChecksum, 8));
  return kGoOn;
}

// Both images into the NAND: the bootloader from block 0, the ext bootloader
// after it, and the ROM area after both.
void storeBootloaders(SessionContext& ctx, const BootloaderHeader& h, const std::vector<uint8_t>& bootloader,
                      const std::vector<uint8_t>& ext) {
  BlockExtent bl = storePageData(ctx.nand, kBootloaderFirstBlock, bootloader);
  BlockExtent ex = storePageData(ctx.nand, bl.end, ext);
  ctx.primaryRomBlock = primaryRomFirstBlock(ex.end);
  if (ex.end > kPrimaryRomFirstBlock)
    ctx.log.info("bootloaders need blocks 0.." + std::to_string(ex.end - 1) + "; the ROM starts at block " +
                 std::to_string(ex.end));
  ctx.record.image("bootloader", h.length, {{"firstBlock", bl.first}, {"checksum", h.checksum}});
  ctx.record.image("ext-bootloader", h.extLength, {{"firstBlock", ex.first}, {"checksum", h.extChecksum}});
}

}  // namespace

Ending serveBootloader(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("bootloader")) return end;
  if (Ending end = ctx.port.writeU8(kAck)) return end;
  BootloaderHeader h;
  if (Ending end = receiveHeader(ctx.port, &h)) return end;
  if (Ending end = ctx.port.writeU8(kAck)) return end;
  std::vector<uint8_t> ext, bootloader;
  if (Ending end = receivePackets(ctx, h.extLength, "ext bootloader", &ext)) return end;
  if (Ending end = receivePackets(ctx, h.length, "bootloader", &bootloader)) return end;
  if (Ending end = checkAgainstInfo(ctx, h, bootloader, ext)) return end;
  storeBootloaders(ctx, h, bootloader, ext);
  return ctx.port.writeU8(kAck);
}

}  // namespace hxphone
