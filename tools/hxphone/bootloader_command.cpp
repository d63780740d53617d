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
  uint8_t infoBytes88[4];
  uint32_t length = 0;
  uint32_t info96 = 0;
  uint32_t checksum = 0;
  uint32_t extLength = 0;
  uint32_t extChecksum = 0;
};

BootloaderHeader receiveHeader(PhonePort& port) {
  BootloaderHeader h;
  port.expectU32(kPacketSize, "bootloader packet size");
  port.readBytes(h.infoBytes88, 4, "bootloader information bytes 88..91");
  h.length = port.readU32("bootloader length");
  h.info96 = port.readU32("bootloader information word 96");
  h.checksum = port.readU32("bootloader checksum");
  uint8_t zeros[32];
  port.readBytes(zeros, sizeof zeros, "32 zero bytes");
  for (uint8_t z : zeros)
    if (z != 0) violation("bootloader header", "32 zero bytes", "a byte " + hex(z));
  port.expectU8(kAck, "0x5A after the bootloader header");
  h.extLength = port.readU32("ext bootloader length");
  h.extChecksum = port.readU32("ext bootloader checksum");
  if (h.length == 0 || h.length > kLongestBootloader)
    violation("bootloader header", "a bootloader length of 1.." + std::to_string(kLongestBootloader), std::to_string(h.length));
  if (h.extLength > kLongestBootloader)
    violation("bootloader header", "an ext bootloader length up to " + std::to_string(kLongestBootloader),
              std::to_string(h.extLength));
  return h;
}

std::vector<uint8_t> receivePackets(SessionContext& ctx, uint32_t length, const char* name) {
  std::vector<uint8_t> image(length);
  for (uint32_t offset = 0; offset < length;) {
    uint32_t n = std::min(kPacketSize, length - offset);
    ctx.port.readBytes(image.data() + offset, n, name);
    uint16_t sum = ctx.port.readU16("packet sum");
    uint16_t want = byteSum16({image.data() + offset, n});
    if (sum != want) {
      ctx.port.writeByteAndU32(kRefuse, 1);
      violation(std::string(name) + " packet at " + std::to_string(offset), "sum " + hex(want, 4), hex(sum, 4));
    }
    ctx.port.writeU8(kContinue);
    offset += n;
  }
  return image;
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

void checkAgainstInfo(SessionContext& ctx, const BootloaderHeader& h, const std::vector<uint8_t>& bootloader,
                      const std::vector<uint8_t>& ext) {
  auto refuse = [&](const std::string& what, const std::string& expected, const std::string& got) {
    ctx.port.writeU8(kRefuse);
    violation(what, expected, got);
  };
  BootloaderInfo info;
  if (!findBootloaderInfo(bootloader, info))
    refuse("bootloader", "a bootloader information record at its end", "none");
  if (std::memcmp(info.bytes88, h.infoBytes88, 4) != 0)
    refuse("bootloader header", "the record's bytes 88..91", "other bytes");
  if (info.word96 != h.info96) refuse("bootloader header", "record word 96 = " + hex(info.word96, 8), hex(h.info96, 8));
  uint32_t sum = wordXor32(bootloader, info.seed);
  if (sum != h.checksum) refuse("bootloader checksum", hex(sum, 8), hex(h.checksum, 8));
  uint32_t extSum = wordXor32(ext, info.seed);
  if (extSum != h.extChecksum) refuse("ext bootloader checksum", hex(extSum, 8), hex(h.extChecksum, 8));
}

}  // namespace

void serveBootloader(SessionContext& ctx) {
  ctx.beginStep("bootloader");
  ctx.port.writeU8(kAck);
  BootloaderHeader h = receiveHeader(ctx.port);
  ctx.port.writeU8(kAck);
  std::vector<uint8_t> ext = receivePackets(ctx, h.extLength, "ext bootloader");
  std::vector<uint8_t> bootloader = receivePackets(ctx, h.length, "bootloader");
  checkAgainstInfo(ctx, h, bootloader, ext);
  BlockExtent bl = storePageData(ctx.nand, kBootloaderFirstBlock, bootloader);
  BlockExtent ex = storePageData(ctx.nand, bl.end, ext);
  ctx.primaryRomBlock = primaryRomFirstBlock(ex.end);
  if (ex.end > kPrimaryRomFirstBlock)
    ctx.log.info("bootloaders need blocks 0.." + std::to_string(ex.end - 1) + "; the ROM starts at block " +
                 std::to_string(ex.end));
  ctx.record.image("bootloader", h.length, {{"firstBlock", bl.first}, {"checksum", h.checksum}});
  ctx.record.image("ext-bootloader", h.extLength, {{"firstBlock", ex.first}, {"checksum", h.extChecksum}});
  ctx.port.writeU8(kAck);
}

}  // namespace hxphone
