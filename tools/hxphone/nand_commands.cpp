// The NAND commands of the FS writer: read-back (DF), format (D4),
// write-block (BD) and write-pages (C0).
//
// DF: host DF, mode (0 pages with spare bytes, 1 page data only), u32 byte
//     address, u32 length (page-data bytes), u32 0        phone: 5A
//     phone: u32 page size, u32 spare size, u32 bytes per page sent
//     host: u32 n = 4224 / (page size + spare size)
//     phone: u32 total; then chunks of n pages, each with its u16 byte sum;
//     host answers each 5A (next), 69 (send it again) or A5 (gives up).
// D4: host D4, three flag bytes (1 1 0, 1 0 1 or 1 0 0), u32 start, u32 length
//     phone: 5A 5A; per bad block met: u32 3041, u32 block, 69; progress:
//     u32 3021, u8 percent, host 5A; at the end u32 0, u8 100, host 5A,
//     phone 5A 5A. A format that fails: u32 3020, u32 block, A5.
// BD: host BD, u32 block, u32 page size, u32 spare size, u32 pages per block
//     phone: 5A, or A5 + u32 3041 for a bad block. The block is erased, then
//     packets of 16896 bytes (pages with their spare bytes), each preceded by
//     5A, are answered 69 (A5 + u32 3041 when the block fails while
//     programmed); at the end the phone sends the u16 XOR of the block's
//     page-data words.
// C0: host C0, u32 block, u32 page count, u32 page size, u32 spare size,
//     u32 pages per block     phone: 5A, or A5 + u32 3041. The block is erased;
//     per page: host u32 page index, 5A, page data + spare bytes; phone 69
//     (or A5 + u32 3041), then u16 XOR of the page's data words; host 5A.
//     A page stored wrongly for another reason: 96 + u32 status, the u16,
//     host 5A, and the command ends.
#include <algorithm>
#include <vector>

#include "hxphone/agent_commands.h"
#include "hxphone/agent_connect.h"
#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

constexpr uint32_t kReadBackUnit = 4224;
constexpr uint32_t kFormatProgress = 3021;
constexpr uint32_t kFormatError = 3020;
constexpr uint32_t kBlockPacketSize = 16896;
constexpr uint32_t kReadBackResendLimit = 100;

void checkGeometry(SessionContext& ctx, const char* command, uint32_t block, uint32_t pageSize, uint32_t spareSize,
                   uint32_t pagesPerBlock) {
  const NandGeometry& g = ctx.nand.geometry();
  if (pageSize != g.pageSize || spareSize != g.spareSize || pagesPerBlock != g.pagesPerBlock)
    violation(command, std::to_string(g.pageSize) + "/" + std::to_string(g.spareSize) + "/" + std::to_string(g.pagesPerBlock),
              std::to_string(pageSize) + "/" + std::to_string(spareSize) + "/" + std::to_string(pagesPerBlock));
  if (block >= g.blockCount)
    violation(command, "a block below " + std::to_string(g.blockCount), "block " + std::to_string(block));
}

bool inRomInfoBlocks(uint32_t block) { return block >= 2 && block <= 9; }

std::vector<uint8_t> readBackBytes(SessionContext& ctx, uint8_t mode, uint32_t firstPage, uint32_t pages) {
  const NandGeometry& g = ctx.nand.geometry();
  uint32_t unit = mode == 0 ? g.rawPageSize() : g.pageSize;
  std::vector<uint8_t> out(size_t{pages} * unit);
  for (uint32_t i = 0; i < pages; ++i) {
    uint32_t page = firstPage + i;
    uint32_t block = page / g.pagesPerBlock;
    uint8_t* dest = out.data() + size_t{i} * unit;
    if (ctx.options.faults.noRomInfo && inRomInfoBlocks(block)) {
      std::fill(dest, dest + unit, 0xFF);
      continue;
    }
    ctx.nand.readPage(block, page % g.pagesPerBlock, dest, mode == 0 ? dest + g.pageSize : nullptr);
  }
  return out;
}

// Sends the chunks; returns how often the host asked for one again.
uint32_t sendReadBackChunks(SessionContext& ctx, const std::vector<uint8_t>& bytes, size_t chunkSize, bool& gaveUp) {
  uint32_t resends = 0;
  gaveUp = false;
  for (size_t offset = 0; offset < bytes.size();) {
    size_t n = std::min(chunkSize, bytes.size() - offset);
    uint16_t sum = byteSum16({bytes.data() + offset, n});
    uint32_t& badSums = ctx.badReadBackSumsSent;
    if (badSums < ctx.options.faults.badReadBackSums) {
      ++badSums;
      sum ^= 0x0101;
    }
    ctx.port.writeBytes(bytes.data() + offset, n);
    ctx.port.writeU16(sum);
    uint8_t answer = ctx.port.readU8("read-back chunk answer");
    if (answer == kAck) {
      offset += n;
    } else if (answer == kContinue) {
      if (++resends > kReadBackResendLimit) violation("read-back", "at most 100 resend requests", "more");
    } else if (answer == kRefuse) {
      gaveUp = true;
      return resends;
    } else {
      violation("read-back chunk answer", "0x5A, 0x69 or 0xA5", hex(answer));
    }
  }
  return resends;
}

// A target block the phone refuses to write: 0xA5 and the bad-block status.
bool refuseBadTarget(SessionContext& ctx, uint32_t block) {
  if (!ctx.nand.isBad(block) && !ctx.options.faults.spareExhaustion) return false;
  ctx.port.writeByteAndU32(kRefuse, kBadBlockStatus);
  return true;
}

// Reads one data packet (5A + bytes) of a block write, asking for it again
// while the resend-packet fault lasts.
void receiveDataPacket(SessionContext& ctx, uint8_t* dest, size_t n) {
  for (;;) {
    ctx.port.expectU8(kAck, "0x5A before a data packet");
    ctx.port.readBytes(dest, n, "a data packet");
    if (ctx.resendRequestsSent < ctx.options.faults.resendPackets) {
      ++ctx.resendRequestsSent;
      ctx.port.writeU8(0x00);
      continue;
    }
    return;
  }
}

// Programs pages (each page's data followed by its spare bytes); false when
// the block failed, which the phone answers with 0xA5 and 3041.
bool programPages(SessionContext& ctx, uint32_t block, const uint8_t* raw, const std::vector<uint32_t>& pages) {
  const NandGeometry& g = ctx.nand.geometry();
  for (size_t i = 0; i < pages.size(); ++i) {
    const uint8_t* page = raw + i * g.rawPageSize();
    if (!ctx.nand.programPage(block, pages[i], page, page + g.pageSize)) {
      ctx.port.writeByteAndU32(kRefuse, kBadBlockStatus);
      return false;
    }
  }
  return true;
}

// The XOR of the page-data words of the first `pages` pages: page by page,
// since a page holds a whole number of words.
uint16_t pageDataChecksum(const NandGeometry& g, const std::vector<uint8_t>& raw, size_t pages) {
  uint16_t x = 0;
  for (size_t i = 0; i < pages; ++i) x ^= wordXor16({raw.data() + i * g.rawPageSize(), g.pageSize});
  return x;
}

void sendFormatStatus(SessionContext& ctx, uint32_t status, uint8_t value) {
  ctx.port.writeU32(status);
  ctx.port.writeU8(value);
  ctx.port.expectU8(kAck, "0x5A after a format status");
}

bool acceptedFormatFlags(const uint8_t f[3]) {
  return f[0] == 1 && ((f[1] == 1 && f[2] == 0) || (f[1] == 0 && f[2] == 1) || (f[1] == 0 && f[2] == 0));
}

}  // namespace

void serveReadBack(SessionContext& ctx) {
  ctx.beginStep("read-back");
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  uint8_t mode = port.readU8("read-back mode");
  uint32_t address = port.readU32("read-back address");
  uint32_t length = port.readU32("read-back length");
  port.expectU32(0, "read-back reserved word");
  if (mode > 1) violation("read-back", "mode 0 or 1", std::to_string(mode));
  uint64_t deviceBytes = uint64_t{g.blockDataSize()} * g.blockCount;
  if (address % g.pageSize || length % g.pageSize || uint64_t{address} + length > deviceBytes)
    violation("read-back", "whole pages inside the device's " + std::to_string(deviceBytes) + " bytes",
              "address " + std::to_string(address) + " length " + std::to_string(length));
  port.writeU8(kAck);
  uint32_t unit = mode == 0 ? g.rawPageSize() : g.pageSize;
  port.writeU32(g.pageSize);
  port.writeU32(g.spareSize);
  port.writeU32(unit);
  port.expectU32(kReadBackUnit / g.rawPageSize(), "read-back pages per chunk");
  std::vector<uint8_t> bytes = readBackBytes(ctx, mode, address / g.pageSize, length / g.pageSize);
  port.writeU32(static_cast<uint32_t>(bytes.size()));
  bool gaveUp = false;
  uint32_t resends = sendReadBackChunks(ctx, bytes, size_t{kReadBackUnit / g.rawPageSize()} * unit, gaveUp);
  ctx.record.readBack({{"mode", mode}, {"address", address}, {"length", length}, {"resends", resends}, {"gaveUp", gaveUp}});
}

void serveFormat(SessionContext& ctx) {
  ctx.beginStep("format");
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  uint8_t flags[3];
  port.readBytes(flags, 3, "format flags");
  uint32_t start = port.readU32("format start");
  uint32_t length = port.readU32("format length");
  if (!acceptedFormatFlags(flags))
    violation("format", "flags 1 1 0, 1 0 1 or 1 0 0",
              std::to_string(flags[0]) + " " + std::to_string(flags[1]) + " " + std::to_string(flags[2]));
  uint64_t deviceBytes = uint64_t{g.blockDataSize()} * g.blockCount;
  if (start % g.blockDataSize() || length % g.blockDataSize() || length == 0 || uint64_t{start} + length > deviceBytes)
    violation("format", "whole blocks inside the device", "start " + std::to_string(start) + " length " + std::to_string(length));
  port.writeU8(kAck);
  port.writeU8(kAck);
  uint32_t first = start / g.blockDataSize();
  uint32_t count = length / g.blockDataSize();
  nlohmann::json entry = {{"flags", {flags[0], flags[1], flags[2]}}, {"start", start}, {"length", length},
                          {"firstBlock", first}, {"blockCount", count}};
  bool fails = ctx.options.faults.formatFailsAt == ctx.stepCount("format");
  uint32_t quarter = 1;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t block = first + i;
    if (fails && i == count / 2) {
      port.writeU32(kFormatError);
      port.writeU32(block);
      port.writeU8(kRefuse);
      entry["result"] = "failed";
      ctx.record.format(entry);
      ctx.log.info("format failed at block " + std::to_string(block) + " (format-fails)");
      return;
    }
    if (ctx.nand.isBad(block)) {
      port.writeU32(kBadBlockStatus);
      port.writeU32(block);
      port.writeU8(kContinue);
    } else {
      ctx.nand.eraseBlock(block);
    }
    if (count >= 4 && quarter < 4 && (i + 1) * 4 >= quarter * count) {
      sendFormatStatus(ctx, kFormatProgress, static_cast<uint8_t>(quarter * 25));
      ++quarter;
    }
  }
  sendFormatStatus(ctx, 0, 100);
  port.writeU8(kAck);
  port.writeU8(kAck);
  entry["result"] = "ok";
  ctx.record.format(entry);
}

void serveWriteBlock(SessionContext& ctx) {
  ctx.beginStep("write-block");
  PhonePort& port = ctx.port;
  uint32_t block = port.readU32("write-block block");
  uint32_t pageSize = port.readU32("write-block page size");
  uint32_t spareSize = port.readU32("write-block spare size");
  uint32_t pagesPerBlock = port.readU32("write-block pages per block");
  checkGeometry(ctx, "write-block", block, pageSize, spareSize, pagesPerBlock);
  const NandGeometry& g = ctx.nand.geometry();
  nlohmann::json entry = {{"command", "write-block"}, {"block", block}};
  if (refuseBadTarget(ctx, block)) {
    entry["result"] = "refused-bad";
    ctx.record.blockWrite(entry);
    return;
  }
  port.writeU8(kAck);
  ctx.nand.eraseBlock(block);
  const uint32_t pagesPerPacket = kBlockPacketSize / g.rawPageSize();
  std::vector<uint8_t> raw(g.rawBlockSize());
  for (uint32_t firstPage = 0; firstPage < g.pagesPerBlock; firstPage += pagesPerPacket) {
    uint8_t* packet = raw.data() + size_t{firstPage} * g.rawPageSize();
    receiveDataPacket(ctx, packet, kBlockPacketSize);
    std::vector<uint32_t> pages(pagesPerPacket);
    for (uint32_t i = 0; i < pagesPerPacket; ++i) pages[i] = firstPage + i;
    if (!programPages(ctx, block, packet, pages)) {
      entry["result"] = "failed-program";
      ctx.record.blockWrite(entry);
      return;
    }
    port.writeU8(kContinue);
  }
  uint16_t checksum = pageDataChecksum(g, raw, g.pagesPerBlock);
  uint32_t writeIndex = ctx.stepCount("write-block");
  if (ctx.options.faults.badBlockChecksumAt == writeIndex) checksum ^= 0xFFFF;
  port.writeU16(checksum);
  entry["result"] = "ok";
  ctx.record.blockWrite(entry);
}

void serveWritePages(SessionContext& ctx) {
  ctx.beginStep("write-pages");
  PhonePort& port = ctx.port;
  uint32_t block = port.readU32("write-pages block");
  uint32_t count = port.readU32("write-pages page count");
  uint32_t pageSize = port.readU32("write-pages page size");
  uint32_t spareSize = port.readU32("write-pages spare size");
  uint32_t pagesPerBlock = port.readU32("write-pages pages per block");
  checkGeometry(ctx, "write-pages", block, pageSize, spareSize, pagesPerBlock);
  const NandGeometry& g = ctx.nand.geometry();
  if (count > g.pagesPerBlock) violation("write-pages", "at most " + std::to_string(g.pagesPerBlock) + " pages", std::to_string(count));
  nlohmann::json entry = {{"command", "write-pages"}, {"block", block}, {"pages", nlohmann::json::array()}};
  if (refuseBadTarget(ctx, block)) {
    entry["result"] = "refused-bad";
    ctx.record.blockWrite(entry);
    return;
  }
  port.writeU8(kAck);
  ctx.nand.eraseBlock(block);
  std::vector<uint8_t> raw(g.rawPageSize());
  int64_t previous = -1;
  for (uint32_t i = 0; i < count; ++i) {
    uint32_t page = port.readU32("write-pages page index");
    if (page >= g.pagesPerBlock || static_cast<int64_t>(page) <= previous)
      violation("write-pages page index", "ascending indices below " + std::to_string(g.pagesPerBlock), std::to_string(page));
    previous = page;
    entry["pages"].push_back(page);
    receiveDataPacket(ctx, raw.data(), raw.size());
    if (++ctx.writePagesPagesSeen == ctx.options.faults.pageStatusAt) {
      // A page the agent could not store, though the block is good: the
      // page's sum still follows, and the host confirms it before the
      // command ends.
      port.writeByteAndU32(kStoreFailed, kPageFailedStatus);
      port.writeU16(pageDataChecksum(g, raw, 1));
      port.expectU8(kAck, "0x5A after a failed page's checksum");
      entry["result"] = "failed-status";
      ctx.record.blockWrite(entry);
      return;
    }
    if (!programPages(ctx, block, raw.data(), {page})) {
      entry["result"] = "failed-program";
      ctx.record.blockWrite(entry);
      return;
    }
    port.writeU8(kContinue);
    port.writeU16(pageDataChecksum(g, raw, 1));
    port.expectU8(kAck, "0x5A after a page's checksum");
  }
  entry["result"] = "ok";
  ctx.record.blockWrite(entry);
}

}  // namespace hxphone
