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
#include <span>
#include <string>
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

Ending checkGeometry(SessionContext& ctx, const char* command, uint32_t block, uint32_t pageSize, uint32_t spareSize,
                     uint32_t pagesPerBlock) {
  const NandGeometry& g = ctx.nand.geometry();
  if (pageSize != g.pageSize || spareSize != g.spareSize || pagesPerBlock != g.pagesPerBlock)
    return violation(command,
                     std::to_string(g.pageSize) + "/" + std::to_string(g.spareSize) + "/" + std::to_string(g.pagesPerBlock),
                     std::to_string(pageSize) + "/" + std::to_string(spareSize) + "/" + std::to_string(pagesPerBlock));
  if (block >= g.blockCount)
    return violation(command, "a block below " + std::to_string(g.blockCount), "block " + std::to_string(block));
  return kGoOn;
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

// How the host took the read-back chunks: how often it asked for one again,
// and whether it gave up.
struct ReadBackAnswers {
  uint32_t resends = 0;
  bool gaveUp = false;
};

// One chunk with its sum (made wrong while the bad-readback-sum fault lasts).
Ending sendReadBackChunk(SessionContext& ctx, std::span<const uint8_t> chunk) {
  uint16_t sum = byteSum16(chunk);
  uint32_t& badSums = ctx.badReadBackSumsSent;
  if (badSums < ctx.options.faults.badReadBackSums) {
    ++badSums;
    sum ^= 0x0101;
  }
  if (Ending end = ctx.port.writeBytes(chunk.data(), chunk.size())) return end;
  return ctx.port.writeU16(sum);
}

Ending sendReadBackChunks(SessionContext& ctx, const std::vector<uint8_t>& bytes, size_t chunkSize,
                          ReadBackAnswers* answers) {
  for (size_t offset = 0; offset < bytes.size();) {
    size_t n = std::min(chunkSize, bytes.size() - offset);
    if (Ending end = sendReadBackChunk(ctx, {bytes.data() + offset, n})) return end;
    uint8_t answer = 0;
    if (Ending end = ctx.port.readU8(&answer, "read-back chunk answer")) return end;
    if (answer == kAck) {
      offset += n;
    } else if (answer == kContinue) {
      if (++answers->resends > kReadBackResendLimit)
        return violation("read-back", "at most 100 resend requests", "more");
    } else if (answer == kRefuse) {
      answers->gaveUp = true;
      return kGoOn;
    } else {
      return violation("read-back chunk answer", "0x5A, 0x69 or 0xA5", hex(answer));
    }
  }
  return kGoOn;
}

// A target block the phone refuses to write: 0xA5 and the bad-block status.
Ending refuseBadTarget(SessionContext& ctx, uint32_t block, bool* refused) {
  *refused = ctx.nand.isBad(block) || ctx.options.faults.spareExhaustion;
  if (!*refused) return kGoOn;
  return ctx.port.writeByteAndU32(kRefuse, kBadBlockStatus);
}

// Reads one data packet (5A + bytes) of a block write, asking for it again
// while the resend-packet fault lasts.
Ending receiveDataPacket(SessionContext& ctx, uint8_t* dest, size_t n) {
  for (;;) {
    if (Ending end = ctx.port.expectU8(kAck, "0x5A before a data packet")) return end;
    if (Ending end = ctx.port.readBytes(dest, n, "a data packet")) return end;
    if (ctx.resendRequestsSent < ctx.options.faults.resendPackets) {
      ++ctx.resendRequestsSent;
      if (Ending end = ctx.port.writeU8(0x00)) return end;
      continue;
    }
    return kGoOn;
  }
}

// Programs pages (each page's data followed by its spare bytes); `failed`
// when the block failed, which the phone answers with 0xA5 and 3041.
Ending programPages(SessionContext& ctx, uint32_t block, const uint8_t* raw, const std::vector<uint32_t>& pages,
                    bool* failed) {
  const NandGeometry& g = ctx.nand.geometry();
  *failed = false;
  for (size_t i = 0; i < pages.size(); ++i) {
    const uint8_t* page = raw + i * g.rawPageSize();
    if (!ctx.nand.programPage(block, pages[i], page, page + g.pageSize)) {
      *failed = true;
      return ctx.port.writeByteAndU32(kRefuse, kBadBlockStatus);
    }
  }
  return kGoOn;
}

// The XOR of the page-data words of the first `pages` pages: page by page,
// since a page holds a whole number of words.
uint16_t pageDataChecksum(const NandGeometry& g, const std::vector<uint8_t>& raw, size_t pages) {
  uint16_t x = 0;
  for (size_t i = 0; i < pages; ++i) x ^= wordXor16({raw.data() + i * g.rawPageSize(), g.pageSize});
  return x;
}

Ending sendFormatStatus(SessionContext& ctx, uint32_t status, uint8_t value) {
  if (Ending end = ctx.port.writeU32(status)) return end;
  if (Ending end = ctx.port.writeU8(value)) return end;
  return ctx.port.expectU8(kAck, "0x5A after a format status");
}

bool acceptedFormatFlags(const uint8_t f[3]) {
  return f[0] == 1 && ((f[1] == 1 && f[2] == 0) || (f[1] == 0 && f[2] == 1) || (f[1] == 0 && f[2] == 0));
}

// A read-back request: mode, byte address and length of whole pages inside the device.
struct ReadBackRequest {
  uint8_t mode = 0;
  uint32_t address = 0;
  uint32_t length = 0;
};

Ending receiveReadBackRequest(SessionContext& ctx, ReadBackRequest* r) {
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  if (Ending end = port.readU8(&r->mode, "read-back mode")) return end;
  if (Ending end = port.readU32(&r->address, "read-back address")) return end;
  if (Ending end = port.readU32(&r->length, "read-back length")) return end;
  if (Ending end = port.expectU32(0, "read-back reserved word")) return end;
  if (r->mode > 1) return violation("read-back", "mode 0 or 1", std::to_string(r->mode));
  uint64_t deviceBytes = uint64_t{g.blockDataSize()} * g.blockCount;
  if (r->address % g.pageSize || r->length % g.pageSize || uint64_t{r->address} + r->length > deviceBytes)
    return violation("read-back", "whole pages inside the device's " + std::to_string(deviceBytes) + " bytes",
                     "address " + std::to_string(r->address) + " length " + std::to_string(r->length));
  return kGoOn;
}

// A format request: its flags and the whole blocks it covers.
struct FormatRequest {
  uint8_t flags[3] = {};
  uint32_t start = 0;
  uint32_t length = 0;
};

Ending receiveFormatRequest(SessionContext& ctx, FormatRequest* r) {
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  if (Ending end = port.readBytes(r->flags, 3, "format flags")) return end;
  if (Ending end = port.readU32(&r->start, "format start")) return end;
  if (Ending end = port.readU32(&r->length, "format length")) return end;
  if (!acceptedFormatFlags(r->flags))
    return violation("format", "flags 1 1 0, 1 0 1 or 1 0 0",
                     std::to_string(r->flags[0]) + " " + std::to_string(r->flags[1]) + " " + std::to_string(r->flags[2]));
  uint64_t deviceBytes = uint64_t{g.blockDataSize()} * g.blockCount;
  if (r->start % g.blockDataSize() || r->length % g.blockDataSize() || r->length == 0 ||
      uint64_t{r->start} + r->length > deviceBytes)
    return violation("format", "whole blocks inside the device",
                     "start " + std::to_string(r->start) + " length " + std::to_string(r->length));
  return kGoOn;
}

// The format-fails fault: the format stops at `block` with an error status.
Ending failFormat(SessionContext& ctx, uint32_t block, nlohmann::json& entry) {
  if (Ending end = ctx.port.writeU32(kFormatError)) return end;
  if (Ending end = ctx.port.writeU32(block)) return end;
  if (Ending end = ctx.port.writeU8(kRefuse)) return end;
  entry["result"] = "failed";
  ctx.record.format(entry);
  ctx.log.info("format failed at block " + std::to_string(block) + " (format-fails)");
  return kGoOn;
}

// A bad block in the range is reported and kept; a good one is erased.
Ending formatBlock(SessionContext& ctx, uint32_t block) {
  if (!ctx.nand.isBad(block)) {
    ctx.nand.eraseBlock(block);
    return kGoOn;
  }
  if (Ending end = ctx.port.writeU32(kBadBlockStatus)) return end;
  if (Ending end = ctx.port.writeU32(block)) return end;
  return ctx.port.writeU8(kContinue);
}

// A block write's header: the target block and the geometry the host assumes.
struct BlockWriteRequest {
  uint32_t block = 0;
  uint32_t pageCount = 0;  // write-pages only
  uint32_t pageSize = 0;
  uint32_t spareSize = 0;
  uint32_t pagesPerBlock = 0;
};

Ending receiveBlockGeometry(SessionContext& ctx, const char* command, BlockWriteRequest* r) {
  const std::string name = command;
  if (Ending end = ctx.port.readU32(&r->pageSize, (name + " page size").c_str())) return end;
  if (Ending end = ctx.port.readU32(&r->spareSize, (name + " spare size").c_str())) return end;
  if (Ending end = ctx.port.readU32(&r->pagesPerBlock, (name + " pages per block").c_str())) return end;
  return checkGeometry(ctx, command, r->block, r->pageSize, r->spareSize, r->pagesPerBlock);
}

// Programs one packet's pages of a write-block; `failed` when the block failed.
Ending writeBlockPacket(SessionContext& ctx, uint32_t block, uint32_t firstPage, std::vector<uint8_t>& raw,
                        bool* failed) {
  const NandGeometry& g = ctx.nand.geometry();
  const uint32_t pagesPerPacket = kBlockPacketSize / g.rawPageSize();
  uint8_t* packet = raw.data() + size_t{firstPage} * g.rawPageSize();
  if (Ending end = receiveDataPacket(ctx, packet, kBlockPacketSize)) return end;
  std::vector<uint32_t> pages(pagesPerPacket);
  for (uint32_t i = 0; i < pagesPerPacket; ++i) pages[i] = firstPage + i;
  if (Ending end = programPages(ctx, block, packet, pages, failed)) return end;
  if (*failed) return kGoOn;
  return ctx.port.writeU8(kContinue);
}

// The packets of a whole block into `raw`; `failed` when the block failed.
Ending writeBlockPackets(SessionContext& ctx, uint32_t block, std::vector<uint8_t>& raw, bool* failed) {
  const NandGeometry& g = ctx.nand.geometry();
  const uint32_t pagesPerPacket = kBlockPacketSize / g.rawPageSize();
  for (uint32_t firstPage = 0; firstPage < g.pagesPerBlock && !*failed; firstPage += pagesPerPacket)
    if (Ending end = writeBlockPacket(ctx, block, firstPage, raw, failed)) return end;
  return kGoOn;
}

// The page-status fault: a page the agent could not store, though the block
// is good. The page's sum still follows, and the host confirms it before the
// command ends.
Ending failPageStatus(SessionContext& ctx, const std::vector<uint8_t>& raw) {
  if (Ending end = ctx.port.writeByteAndU32(kStoreFailed, kPageFailedStatus)) return end;
  if (Ending end = ctx.port.writeU16(pageDataChecksum(ctx.nand.geometry(), raw, 1))) return end;
  return ctx.port.expectU8(kAck, "0x5A after a failed page's checksum");
}

// One page of a write-pages: its index, its bytes, then 69 and its sum, which
// the host confirms. `stoppedBy` names how the page ended the command, when it did.
Ending writeOnePage(SessionContext& ctx, uint32_t block, int64_t& previous, std::vector<uint8_t>& raw,
                    nlohmann::json& entry, const char** stoppedBy) {
  const NandGeometry& g = ctx.nand.geometry();
  uint32_t page = 0;
  if (Ending end = ctx.port.readU32(&page, "write-pages page index")) return end;
  if (page >= g.pagesPerBlock || static_cast<int64_t>(page) <= previous)
    return violation("write-pages page index", "ascending indices below " + std::to_string(g.pagesPerBlock),
                     std::to_string(page));
  previous = page;
  entry["pages"].push_back(page);
  if (Ending end = receiveDataPacket(ctx, raw.data(), raw.size())) return end;
  if (++ctx.writePagesPagesSeen == ctx.options.faults.pageStatusAt) {
    *stoppedBy = "failed-status";
    return failPageStatus(ctx, raw);
  }
  bool failed = false;
  if (Ending end = programPages(ctx, block, raw.data(), {page}, &failed)) return end;
  if (failed) {
    *stoppedBy = "failed-program";
    return kGoOn;
  }
  if (Ending end = ctx.port.writeU8(kContinue)) return end;
  if (Ending end = ctx.port.writeU16(pageDataChecksum(g, raw, 1))) return end;
  return ctx.port.expectU8(kAck, "0x5A after a page's checksum");
}

// The pages of a write-pages, until one ends the command early.
Ending writePages(SessionContext& ctx, const BlockWriteRequest& r, nlohmann::json& entry, const char** stoppedBy) {
  std::vector<uint8_t> raw(ctx.nand.geometry().rawPageSize());
  int64_t previous = -1;
  for (uint32_t i = 0; i < r.pageCount && !*stoppedBy; ++i)
    if (Ending end = writeOnePage(ctx, r.block, previous, raw, entry, stoppedBy)) return end;
  return kGoOn;
}

Ending receiveWritePagesRequest(SessionContext& ctx, BlockWriteRequest* r) {
  if (Ending end = ctx.port.readU32(&r->block, "write-pages block")) return end;
  if (Ending end = ctx.port.readU32(&r->pageCount, "write-pages page count")) return end;
  if (Ending end = receiveBlockGeometry(ctx, "write-pages", r)) return end;
  const uint32_t pagesPerBlock = ctx.nand.geometry().pagesPerBlock;
  if (r->pageCount > pagesPerBlock)
    return violation("write-pages", "at most " + std::to_string(pagesPerBlock) + " pages", std::to_string(r->pageCount));
  return kGoOn;
}

// A block write ends: its entry in the record says how.
Ending recordBlockWrite(SessionContext& ctx, nlohmann::json& entry, const char* result) {
  entry["result"] = result;
  ctx.record.blockWrite(entry);
  return kGoOn;
}

}  // namespace

Ending serveReadBack(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("read-back")) return end;
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  ReadBackRequest r;
  if (Ending end = receiveReadBackRequest(ctx, &r)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  uint32_t unit = r.mode == 0 ? g.rawPageSize() : g.pageSize;
  if (Ending end = port.writeU32(g.pageSize)) return end;
  if (Ending end = port.writeU32(g.spareSize)) return end;
  if (Ending end = port.writeU32(unit)) return end;
  if (Ending end = port.expectU32(kReadBackUnit / g.rawPageSize(), "read-back pages per chunk")) return end;
  std::vector<uint8_t> bytes = readBackBytes(ctx, r.mode, r.address / g.pageSize, r.length / g.pageSize);
  if (Ending end = port.writeU32(static_cast<uint32_t>(bytes.size()))) return end;
  ReadBackAnswers answers;
  if (Ending end = sendReadBackChunks(ctx, bytes, size_t{kReadBackUnit / g.rawPageSize()} * unit, &answers)) return end;
  ctx.record.readBack({{"mode", r.mode}, {"address", r.address}, {"length", r.length}, {"resends", answers.resends},
                       {"gaveUp", answers.gaveUp}});
  return kGoOn;
}

Ending serveFormat(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("format")) return end;
  PhonePort& port = ctx.port;
  const NandGeometry& g = ctx.nand.geometry();
  FormatRequest r;
  if (Ending end = receiveFormatRequest(ctx, &r)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  uint32_t first = r.start / g.blockDataSize();
  uint32_t count = r.length / g.blockDataSize();
  nlohmann::json entry = {{"flags", {r.flags[0], r.flags[1], r.flags[2]}}, {"start", r.start}, {"length", r.length},
                          {"firstBlock", first}, {"blockCount", count}};
  bool fails = ctx.options.faults.formatFailsAt == ctx.stepCount("format");
  uint32_t quarter = 1;
  for (uint32_t i = 0; i < count; ++i) {
    if (fails && i == count / 2) return failFormat(ctx, first + i, entry);
    if (Ending end = formatBlock(ctx, first + i)) return end;
    if (count >= 4 && quarter < 4 && (i + 1) * 4 >= quarter * count) {
      if (Ending end = sendFormatStatus(ctx, kFormatProgress, static_cast<uint8_t>(quarter * 25))) return end;
      ++quarter;
    }
  }
  if (Ending end = sendFormatStatus(ctx, 0, 100)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  entry["result"] = "ok";
  ctx.record.format(entry);
  return kGoOn;
}

Ending serveWriteBlock(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("write-block")) return end;
  BlockWriteRequest r;
  if (Ending end = ctx.port.readU32(&r.block, "write-block block")) return end;
  if (Ending end = receiveBlockGeometry(ctx, "write-block", &r)) return end;
  nlohmann::json entry = {{"command", "write-block"}, {"block", r.block}};
  bool refused = false;
  if (Ending end = refuseBadTarget(ctx, r.block, &refused)) return end;
  if (refused) return recordBlockWrite(ctx, entry, "refused-bad");
  if (Ending end = ctx.port.writeU8(kAck)) return end;
  ctx.nand.eraseBlock(r.block);
  const NandGeometry& g = ctx.nand.geometry();
  std::vector<uint8_t> raw(g.rawBlockSize());
  bool failed = false;
  if (Ending end = writeBlockPackets(ctx, r.block, raw, &failed)) return end;
  if (failed) return recordBlockWrite(ctx, entry, "failed-program");
  uint16_t checksum = pageDataChecksum(g, raw, g.pagesPerBlock);
  if (ctx.options.faults.badBlockChecksumAt == ctx.stepCount("write-block")) checksum ^= 0xFFFF;
  if (Ending end = ctx.port.writeU16(checksum)) return end;
  return recordBlockWrite(ctx, entry, "ok");
}

Ending serveWritePages(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("write-pages")) return end;
  BlockWriteRequest r;
  if (Ending end = receiveWritePagesRequest(ctx, &r)) return end;
  nlohmann::json entry = {{"command", "write-pages"}, {"block", r.block}, {"pages", nlohmann::json::array()}};
  bool refused = false;
  if (Ending end = refuseBadTarget(ctx, r.block, &refused)) return end;
  if (refused) return recordBlockWrite(ctx, entry, "refused-bad");
  if (Ending end = ctx.port.writeU8(kAck)) return end;
  ctx.nand.eraseBlock(r.block);
  const char* stoppedBy = nullptr;
  if (Ending end = writePages(ctx, r, entry, &stoppedBy)) return end;
  return recordBlockWrite(ctx, entry, stoppedBy ? stoppedBy : "ok");
}

}  // namespace hxphone
