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

Ending receiveEntry(PhonePort& port, const char* name, ListEntry* e) {
  if (Ending end = port.expectU8(0x01, name)) return end;
  if (Ending end = port.readU32(&e->start, name)) return end;
  if (Ending end = port.readU32(&e->end, name)) return end;
  if (Ending end = port.expectU32(0, name)) return end;
  return port.expectU32(1, name);
}

// "[start, end]": an entry's range in messages.
std::string rangeText(const ListEntry& e) {
  std::string text = "[";
  text += std::to_string(e.start);
  text += ", ";
  text += std::to_string(e.end);
  text += "]";
  return text;
}

// An entry's length; an empty image has end = start - 1.
Ending entryLength(const ListEntry& e, const char* name, uint32_t* length) {
  *length = e.end + 1 - e.start;
  if (*length > kLongestRomImage)
    return violation(name, "a range of at most " + std::to_string(kLongestRomImage) + " bytes", rangeText(e));
  return kGoOn;
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

// Receives an image into its place in the ROM area, with its byte sum: the
// sum of its chunks' sums.
Ending receiveChunks(SessionContext& ctx, std::span<uint8_t> image, const char* name, uint16_t* imageSum) {
  *imageSum = 0;
  const auto length = static_cast<uint32_t>(image.size());
  for (uint32_t offset = 0; offset < length;) {
    uint32_t n = std::min(kChunkSize, length - offset);
    uint8_t* chunk = image.data() + offset;
    if (Ending end = ctx.port.readBytes(chunk, n, name)) return end;
    uint16_t sum = 0;
    if (Ending end = ctx.port.readU16(&sum, "chunk sum")) return end;
    uint16_t want = byteSum16({chunk, n});
    if (sum != want) {
      if (Ending end = ctx.port.writeU8(kRefuse)) return end;
      return violation(std::string(name) + " chunk at " + std::to_string(offset), "sum " + hex(want, 4), hex(sum, 4));
    }
    if (Ending end = ctx.port.writeU8(kContinue)) return end;
    *imageSum = static_cast<uint16_t>(*imageSum + want);
    offset += n;
  }
  return kGoOn;
}

// The host's check of one image: 5A and its sum, or A5 when it gives the
// write up (`gaveUp`).
Ending receiveImageCheck(SessionContext& ctx, uint16_t imageSum, const char* name, bool* gaveUp) {
  uint8_t b = 0;
  if (Ending end = ctx.port.readU8(&b, "image check")) return end;
  *gaveUp = b == kRefuse;
  if (*gaveUp) {
    ctx.log.info(std::string("host gave up the NFB write at the ") + name + " check");
    return kGoOn;
  }
  if (b != kAck) return violation(std::string(name) + " check", "0x5A or 0xA5", hex(b));
  uint16_t sum = 0;
  if (Ending end = ctx.port.readU16(&sum, "image sum")) return end;
  uint16_t want = imageSum;
  if (sum != want) {
    if (Ending end = ctx.port.writeU8(kRefuse)) return end;
    return violation(std::string(name) + " whole-image sum", hex(want, 4), hex(sum, 4));
  }
  return ctx.port.writeU8(kAck);
}

Ending checkRomInfoRange(SessionContext& ctx, std::span<const uint8_t> primary) {
  const AnnouncedImages& a = ctx.images;
  size_t n = a.romInfoStart;
  if (n + kRomInfoMarkerLength > primary.size() || std::memcmp(primary.data() + n, kRomInfoMarker, kRomInfoMarkerLength) != 0)
    return violation("image list", "the ROM information record at primary offset " + std::to_string(n), "no marker there");
  uint32_t size = romInfoSizeForVersion(primary.data() + n + kRomInfoMarkerLength, primary.size() - n - kRomInfoMarkerLength);
  if (a.romInfoEnd != n + size - 1)
    return violation("image list", "record range end " + std::to_string(n + size - 1), std::to_string(a.romInfoEnd));
  return kGoOn;
}

// The ROM information record's range in the primary image.
Ending receiveRomInfoRange(PhonePort& port, AnnouncedImages& a) {
  const uint8_t fixed[5] = {0xA5, 0xA5, 0xA5, 0x02, 0x02};
  for (uint8_t b : fixed)
    if (Ending end = port.expectU8(b, "image list header")) return end;
  if (Ending end = port.readU32(&a.romInfoStart, "ROM information start")) return end;
  if (Ending end = port.readU32(&a.romInfoEnd, "ROM information end")) return end;
  if (a.romInfoEnd < a.romInfoStart) return violation("image list", "a record range start <= end", "an inverted range");
  return port.writeU8(kAck);
}

// Both images' sums, each checked by the host; `gaveUp` when the host gave up.
Ending receiveImageChecks(SessionContext& ctx, uint16_t primarySum, uint16_t secondarySum, bool* gaveUp) {
  if (Ending end = receiveImageCheck(ctx, primarySum, "primary ROM image", gaveUp)) return end;
  if (*gaveUp) return kGoOn;
  return receiveImageCheck(ctx, secondarySum, "secondary ROM image", gaveUp);
}

// The ROM area into the NAND from the primary ROM block, both images in the record.
void storeRomArea(SessionContext& ctx, const std::vector<uint8_t>& area, uint16_t primarySum, uint16_t secondarySum) {
  const uint32_t primaryLength = ctx.images.primaryLength;
  BlockExtent stored = storePageData(ctx.nand, ctx.primaryRomBlock, area);
  ctx.record.image("primary-rom", primaryLength, {{"firstBlock", stored.first}, {"areaOffset", 0}, {"sum", primarySum}});
  ctx.record.image("secondary-rom", ctx.images.secondaryLength,
                   {{"firstBlock", stored.first}, {"areaOffset", romSecondaryOffset(primaryLength)},
                    {"endBlock", stored.end}, {"sum", secondarySum}});
}

}  // namespace

Ending serveImageList(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("image-list")) return end;
  PhonePort& port = ctx.port;
  AnnouncedImages& a = ctx.images;
  if (Ending end = receiveRomInfoRange(port, a)) return end;
  ListEntry primary, secondary;
  if (Ending end = receiveEntry(port, "primary ROM entry", &primary)) return end;
  if (primary.start != 0) return violation("primary ROM entry", "start 0", std::to_string(primary.start));
  if (Ending end = entryLength(primary, "primary ROM entry", &a.primaryLength)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  if (Ending end = receiveEntry(port, "secondary ROM entry", &secondary)) return end;
  uint32_t want = romSecondaryOffset(a.primaryLength);
  if (secondary.start != want)
    return violation("secondary ROM entry", "start " + std::to_string(want), std::to_string(secondary.start));
  if (Ending end = entryLength(secondary, "secondary ROM entry", &a.secondaryLength)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  a.received = true;
  return kGoOn;
}

Ending serveNfbImages(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("nfb")) return end;
  PhonePort& port = ctx.port;
  if (Ending end = port.writeU8(kAck)) return end;
  if (Ending end = port.expectU32(kChunkSize, "NFB chunk size")) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  // The images come straight into the ROM area they are stored as: the
  // primary at its start, the secondary at its end, erased bytes between.
  const uint32_t primaryLength = ctx.images.primaryLength;
  const uint32_t secondaryLength = ctx.images.secondaryLength;
  std::vector<uint8_t> area(size_t{romSecondaryOffset(primaryLength)} + secondaryLength, 0xFF);
  std::span<uint8_t> primary(area.data(), primaryLength);
  std::span<uint8_t> secondary(area.data() + (area.size() - secondaryLength), secondaryLength);
  uint16_t primarySum = 0, secondarySum = 0;
  if (Ending end = receiveChunks(ctx, primary, "primary ROM image", &primarySum)) return end;
  if (Ending end = receiveChunks(ctx, secondary, "secondary ROM image", &secondarySum)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  bool gaveUp = false;
  if (Ending end = receiveImageChecks(ctx, primarySum, secondarySum, &gaveUp)) return end;
  if (gaveUp) return kGoOn;
  if (Ending end = checkRomInfoRange(ctx, primary)) return end;
  storeRomArea(ctx, area, primarySum, secondarySum);
  return port.writeU8(kAck);
}

}  // namespace hxphone
