#include "hxphone/agent_connect.h"

#include <agent/agent_table_layout.h>

#include <thread>
#include <vector>

#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace at = hx::agent_table;

namespace {

// Garbage the agent may send before it is ready: never 0xC0.
uint8_t garbageByte(uint32_t i) {
  uint8_t b = static_cast<uint8_t>(0x11 + 37 * i);
  return b == kReady ? 0x00 : b;
}

// The endless-garbage fault: garbage at a pace the host's hunt for 0xC0 can
// keep up with, until the host goes or the phone is stopped.
Ending sendGarbageForever(SessionContext& ctx) {
  ctx.log.info("sending garbage instead of 0xC0 (endless-garbage)");
  for (uint32_t i = 0;; ++i) {
    if (Ending end = ctx.port.writeU8(garbageByte(i))) return end;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (ctx.link.stopRequested()) return SessionEnd{Outcome::Stopped, "stopped by its owner"};
  }
}

Ending announceReady(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("agent-ready")) return end;
  const FaultPlan& faults = ctx.options.faults;
  if (faults.endlessGarbage) return sendGarbageForever(ctx);
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < faults.garbageBeforeReady; ++i) out.push_back(garbageByte(i));
  out.push_back(kReady);
  out.push_back(0x03);
  out.push_back(0x02);
  out.push_back(ctx.options.chipType);
  return ctx.port.writeBytes(out.data(), out.size());
}

Ending receiveConfiguration(SessionContext& ctx) {
  PhonePort& port = ctx.port;
  if (Ending end = port.expectU8(0xFF, "BootROM version byte")) return end;
  if (Ending end = port.expectU8(0xFE, "bootloader version byte")) return end;
  if (Ending end = port.expectU8(0x00, "chip select byte 1")) return end;
  if (Ending end = port.expectU8(0x08, "chip select byte 2")) return end;
  if (Ending end = port.expectU8(0x00, "chip select byte 3")) return end;
  const uint32_t accessTiming = ctx.options.chipType == 0x15 ? 0x20022113 : 0x7007FFFF;
  if (Ending end = port.expectU32(accessTiming, "NFI_ACCCON setting")) return end;
  if (Ending end = port.expectU8(0x02, "clock setting byte")) return end;
  return port.expectU32(0, "clock setting value");
}

// Receives one device table; `matched` tells whether a record matched this phone.
template <typename Matches>
Ending receiveTable(SessionContext& ctx, const char* name, size_t recordSize, size_t recordCount, Matches matches,
                    bool* matched) {
  PhonePort& port = ctx.port;
  *matched = false;
  uint32_t count = 0;
  if (Ending end = port.readU32(&count, name)) return end;
  if (count != recordCount)
    return violation(name, std::to_string(recordCount) + " records", std::to_string(count) + " records");
  if (Ending end = port.writeU8(kAck)) return end;
  std::vector<uint8_t> record(recordSize);
  for (size_t i = 0; i < recordCount; ++i) {
    if (Ending end = port.readBytes(record.data(), record.size(), name)) return end;
    bool last = i + 1 == recordCount;
    bool endMarker = at::readLe16(record.data()) == at::kEndMarker;
    if (endMarker != last)
      return violation(std::string(name) + " record " + std::to_string(i),
                       last ? "the end record beginning with 0xFFFF" : "a device record",
                       endMarker ? "the end record" : "a device record");
    bool mine = false;
    if (!last)
      if (Ending end = matches(record.data(), &mine)) return end;
    if (mine) {
      *matched = true;
      ctx.log.detail(std::string(name) + ": this phone's record is " + std::to_string(i));
      return port.writeU8(kAck);
    }
    if (Ending end = port.writeU8(kContinue)) return end;
  }
  return kGoOn;
}

// This phone's NAND record must describe its geometry.
Ending checkNandRecord(const PhoneOptions& o, const uint8_t* r) {
  const NandGeometry& g = o.geometry;
  uint16_t page = at::readLe16(r + at::nand::kPageSize);
  uint16_t spare = at::readLe16(r + at::nand::kSpareSize);
  uint16_t pages = at::readLe16(r + at::nand::kPagesPerBlock);
  if (page == g.pageSize && spare == g.spareSize && pages == g.pagesPerBlock) return kGoOn;
  return violation("NAND device table",
                   "the record of " + hex(o.nandMaker) + "/" + hex(o.nandDevice) + " to describe " +
                       std::to_string(g.pageSize) + "+" + std::to_string(g.spareSize) + " bytes x " +
                       std::to_string(g.pagesPerBlock) + " pages",
                   std::to_string(page) + "+" + std::to_string(spare) + " bytes x " + std::to_string(pages) + " pages");
}

Ending receiveDeviceTables(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("device-tables")) return end;
  const PhoneOptions& o = ctx.options;
  bool found = false;
  auto norMatches = [&](const uint8_t* r, bool* mine) {
    *mine = o.norDeviceId && at::readLe16(r + at::nor::kDeviceId1) == *o.norDeviceId;
    return kGoOn;
  };
  if (Ending end = receiveTable(ctx, "NOR device table", at::nor::kRecordSize, at::nor::kRecordCount, norMatches, &found))
    return end;
  // "Detect NAND Flash": this phone has NAND.
  if (Ending end = ctx.port.writeU8(kAck)) return end;
  auto nandMatches = [&](const uint8_t* r, bool* mine) {
    *mine = at::readLe16(r + at::nand::kMakerCode) == o.nandMaker && at::readLe16(r + at::nand::kDeviceCode) == o.nandDevice;
    return *mine ? checkNandRecord(o, r) : kGoOn;
  };
  if (Ending end =
          receiveTable(ctx, "NAND device table", at::nand::kRecordSize, at::nand::kRecordCount, nandMatches, &found))
    return end;
  if (!found)
    return violation("NAND device table", "a record for maker " + hex(o.nandMaker) + " device " + hex(o.nandDevice),
                     "none among the " + std::to_string(at::nand::kRecordCount) + " records");
  return kGoOn;
}

Ending sendFlashReport(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("flash-report")) return end;
  const NandGeometry& g = ctx.options.geometry;
  // First part: u32, u8, u8, u16, u32, u16, u16, u16, u16, u32, u32 (no NOR flash).
  std::vector<uint8_t> first(kFlashReportFirstPart, 0);
  // Second part: u32 status, u8 flash count, u16 maker, u32 size, eleven u16, u8, u8, u32, u32, u32, u8, u8, u32.
  std::vector<uint8_t> second(kFlashReportSecondPart, 0);
  uint64_t size = uint64_t{g.blockDataSize()} * g.blockCount;
  second[4] = 1;
  second[5] = static_cast<uint8_t>(ctx.options.nandMaker >> 8);
  second[6] = static_cast<uint8_t>(ctx.options.nandMaker);
  for (int i = 0; i < 4; ++i) second[7 + i] = static_cast<uint8_t>(size >> (24 - 8 * i));
  second[11] = static_cast<uint8_t>(ctx.options.nandDevice >> 8);
  second[12] = static_cast<uint8_t>(ctx.options.nandDevice);
  second[13] = static_cast<uint8_t>(g.pageSize >> 8);
  second[14] = static_cast<uint8_t>(g.pageSize);
  if (Ending end = ctx.port.writeBytes(first.data(), first.size())) return end;
  if (Ending end = ctx.port.writeBytes(second.data(), second.size())) return end;
  // The flash scan is done: acknowledgement, two u32 and a byte.
  uint8_t tail[10] = {kAck, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  return ctx.port.writeBytes(tail, sizeof tail);
}

}  // namespace

Ending connectAgent(SessionContext& ctx) {
  if (Ending end = announceReady(ctx)) return end;
  if (Ending end = receiveConfiguration(ctx)) return end;
  if (Ending end = receiveDeviceTables(ctx)) return end;
  if (Ending end = sendFlashReport(ctx)) return end;
  ctx.log.detail("agent connected");
  return kGoOn;
}

}  // namespace hxphone
