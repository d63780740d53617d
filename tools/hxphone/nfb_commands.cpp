// 0xDD, the NAND image list, and 0xDE, the NFB (ROM) images.
//
// DD: host DD A5 A5 A5 02 02, u32 n, u32 n + s - 1 (where the ROM information
// record lies in the primary image)    phone: 5A
// then two entries, each 01, u32 start, u32 end (inclusive), u32 0, u32 1,
// each answered 5A. The primary starts at 0; the secondary at the primary's
// end + 1 + 0x4000.
//
// DE: host DE                          phone: 5A
//     host u32 0x1000 (chunk size)     phone: 5A
//     host the primary image in chunks of <= 4096 bytes, each with its u16
//     byte sum, then the secondary     phone: 69 per chunk
//                                      phone: 5A 5A
//     host 5A, u16 sum of the primary  phone: 5A
//     host 5A, u16 sum of the secondary phone: 5A
//                                      phone: 5A
// (the host sends A5 instead of 5A to give up when an image is empty).
#include <cstring>
#include <vector>

#include "hxphone/agent_commands.h"
#include "hxphone/agent_connect.h"
#include "hxphone/flash_layout.h"
#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

constexpr uint32_t kChunkSize = 0x1000;
constexpr uint32_t kLongestRomImage = 256u << 20;
constexpr char kRomInfoMarker[] = "MTK_ROMINFO_v";
constexpr size_t kRomInfoMarkerLength = sizeof kRomInfoMarker - 1;

struct ListEntry {
  uint32_t start = 0;
  uint32_t end = 0;
};

ListEntry receiveEntry(PhonePort& port, const char* name) {
  port.expectU8(0x01, name);
  ListEntry e;
  e.start = port.readU32(name);
  e.end = port.readU32(name);
  port.expectU32(0, name);
  port.expectU32(1, name);
  return e;
}

uint32_t entryLength(const ListEntry& e, const char* name) {
  // An empty image has end = start - 1.
  uint32_t length = e.end + 1 - e.start;
  if (length > kLongestRomImage)
    violation(name, "a range of at most " + std::to_string(kLongestRomImage) + " bytes",
              "[" + std::to_string(e.start) + ", " + std::to_string(e.end) + "]");
  return length;
}

uint32_t romInfoSizeForVersion(const uint8_t* versionText, size_t available) {
  uint32_t version = 0;
  for (size_t i = 0; i < available && versionText[i] >= '0' && versionText[i] <= '9' && i < 9; ++i)
    version = version * 10 + (versionText[i] - '0');
  switch (version) {
    case 4: return 320;
    case 5: return 332;
    case 6: return 340;
    default: return 352;
  }
}

// Receives an image into its place in the ROM area; returns its byte sum, the
// sum of its chunks' sums.
uint16_t receiveChunks(SessionContext& ctx, std::span<uint8_t> image, const char* name) {
  uint16_t imageSum = 0;
  const auto length = static_cast<uint32_t>(image.size());
  for (uint32_t offset = 0; offset < length;) {
    uint32_t n = std::min(kChunkSize, length - offset);
    uint8_t* chunk = image.data() + offset;
    ctx.port.readBytes(chunk, n, name);
    uint16_t sum = ctx.port.readU16("chunk sum");
    uint16_t want = byteSum16({chunk, n});
    if (sum != want) {
      ctx.port.writeU8(kRefuse);
      violation(std::string(name) + " chunk at " + std::to_string(offset), "sum " + hex(want, 4), hex(sum, 4));
    }
    ctx.port.writeU8(kContinue);
    imageSum = static_cast<uint16_t>(imageSum + want);
    offset += n;
  }
  return imageSum;
}

// Returns false when the host gave the image up (A5).
bool receiveImageCheck(SessionContext& ctx, uint16_t imageSum, const char* name) {
  uint8_t b = ctx.port.readU8("image check");
  if (b == kRefuse) {
    ctx.log.info(std::string("host gave up the NFB write at the ") + name + " check");
    return false;
  }
  if (b != kAck) violation(std::string(name) + " check", "0x5A or 0xA5", hex(b));
  uint16_t sum = ctx.port.readU16("image sum");
  uint16_t want = imageSum;
  if (sum != want) {
    ctx.port.writeU8(kRefuse);
    violation(std::string(name) + " whole-image sum", hex(want, 4), hex(sum, 4));
  }
  ctx.port.writeU8(kAck);
  return true;
}

void checkRomInfoRange(SessionContext& ctx, std::span<const uint8_t> primary) {
  const AnnouncedImages& a = ctx.images;
  size_t n = a.romInfoStart;
  if (n + kRomInfoMarkerLength > primary.size() || std::memcmp(primary.data() + n, kRomInfoMarker, kRomInfoMarkerLength) != 0)
    violation("image list", "the ROM information record at primary offset " + std::to_string(n), "no marker there");
  uint32_t size = romInfoSizeForVersion(primary.data() + n + kRomInfoMarkerLength, primary.size() - n - kRomInfoMarkerLength);
  if (a.romInfoEnd != n + size - 1)
    violation("image list", "record range end " + std::to_string(n + size - 1), std::to_string(a.romInfoEnd));
}

}  // namespace

void serveImageList(SessionContext& ctx) {
  ctx.beginStep("image-list");
  PhonePort& port = ctx.port;
  const uint8_t fixed[5] = {0xA5, 0xA5, 0xA5, 0x02, 0x02};
  for (uint8_t b : fixed) port.expectU8(b, "image list header");
  AnnouncedImages& a = ctx.images;
  a.romInfoStart = port.readU32("ROM information start");
  a.romInfoEnd = port.readU32("ROM information end");
  if (a.romInfoEnd < a.romInfoStart) violation("image list", "a record range start <= end", "an inverted range");
  port.writeU8(kAck);
  ListEntry primary = receiveEntry(port, "primary ROM entry");
  if (primary.start != 0) violation("primary ROM entry", "start 0", std::to_string(primary.start));
  a.primaryLength = entryLength(primary, "primary ROM entry");
  port.writeU8(kAck);
  ListEntry secondary = receiveEntry(port, "secondary ROM entry");
  uint32_t want = romSecondaryOffset(a.primaryLength);
  if (secondary.start != want) violation("secondary ROM entry", "start " + std::to_string(want), std::to_string(secondary.start));
  a.secondaryLength = entryLength(secondary, "secondary ROM entry");
  port.writeU8(kAck);
  a.received = true;
}

void serveNfbImages(SessionContext& ctx) {
  ctx.beginStep("nfb");
  PhonePort& port = ctx.port;
  port.writeU8(kAck);
  port.expectU32(kChunkSize, "NFB chunk size");
  port.writeU8(kAck);
  // The images come straight into the ROM area they are stored as: the
  // primary at its start, the secondary at its end, erased bytes between.
  const uint32_t primaryLength = ctx.images.primaryLength;
  const uint32_t secondaryLength = ctx.images.secondaryLength;
  std::vector<uint8_t> area(size_t{romSecondaryOffset(primaryLength)} + secondaryLength, 0xFF);
  std::span<uint8_t> primary(area.data(), primaryLength);
  std::span<uint8_t> secondary(area.data() + (area.size() - secondaryLength), secondaryLength);
  const uint16_t primarySum = receiveChunks(ctx, primary, "primary ROM image");
  const uint16_t secondarySum = receiveChunks(ctx, secondary, "secondary ROM image");
  port.writeU8(kAck);
  port.writeU8(kAck);
  if (!receiveImageCheck(ctx, primarySum, "primary ROM image")) return;
  if (!receiveImageCheck(ctx, secondarySum, "secondary ROM image")) return;
  checkRomInfoRange(ctx, primary);
  BlockExtent stored = storePageData(ctx.nand, ctx.primaryRomBlock, area);
  ctx.record.image("primary-rom", primaryLength, {{"firstBlock", stored.first}, {"areaOffset", 0}, {"sum", primarySum}});
  ctx.record.image("secondary-rom", secondaryLength,
                   {{"firstBlock", stored.first}, {"areaOffset", romSecondaryOffset(primaryLength)},
                    {"endBlock", stored.end}, {"sum", secondarySum}});
  port.writeU8(kAck);
}

}  // namespace hxphone
