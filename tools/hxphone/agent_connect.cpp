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

void announceReady(SessionContext& ctx) {
  ctx.beginStep("agent-ready");
  const FaultPlan& faults = ctx.options.faults;
  if (faults.endlessGarbage) {
    ctx.log.info("sending garbage instead of 0xC0 (endless-garbage)");
    for (uint32_t i = 0;; ++i) {
      ctx.port.writeU8(garbageByte(i));
      // A pace the host's hunt for 0xC0 can keep up with.
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      if (ctx.port.stopRequested()) throw SessionEnd(Outcome::Stopped, "stopped by its owner");
    }
  }
  std::vector<uint8_t> out;
  for (uint32_t i = 0; i < faults.garbageBeforeReady; ++i) out.push_back(garbageByte(i));
  out.push_back(kReady);
  out.push_back(0x03);
  out.push_back(0x02);
  out.push_back(ctx.options.chipType);
  ctx.port.writeBytes(out.data(), out.size());
}

void receiveConfiguration(SessionContext& ctx) {
  PhonePort& port = ctx.port;
  port.expectU8(0xFF, "BootROM version byte");
  port.expectU8(0xFE, "bootloader version byte");
  port.expectU8(0x00, "chip select byte 1");
  port.expectU8(0x08, "chip select byte 2");
  port.expectU8(0x00, "chip select byte 3");
  port.expectU32(ctx.options.chipType == 0x15 ? 0x20022113 : 0x7007FFFF, "NFI_ACCCON setting");
  port.expectU8(0x02, "clock setting byte");
  port.expectU32(0, "clock setting value");
}

// Receives one device table; returns whether a record matched this phone.
template <typename Matches>
bool receiveTable(SessionContext& ctx, const char* name, size_t recordSize, size_t recordCount, Matches matches) {
  PhonePort& port = ctx.port;
  uint32_t count = port.readU32(name);
  if (count != recordCount)
    violation(name, std::to_string(recordCount) + " records", std::to_string(count) + " records");
  port.writeU8(kAck);
  std::vector<uint8_t> record(recordSize);
  for (size_t i = 0; i < recordCount; ++i) {
    port.readBytes(record.data(), record.size(), name);
    bool last = i + 1 == recordCount;
    bool endMarker = at::readLe16(record.data()) == at::kEndMarker;
    if (endMarker != last)
      violation(std::string(name) + " record " + std::to_string(i),
                last ? "the end record beginning with 0xFFFF" : "a device record", endMarker ? "the end record" : "a device record");
    if (!last && matches(record.data())) {
      port.writeU8(kAck);
      ctx.log.detail(std::string(name) + ": this phone's record is " + std::to_string(i));
      return true;
    }
    port.writeU8(kContinue);
  }
  return false;
}

void receiveDeviceTables(SessionContext& ctx) {
  ctx.beginStep("device-tables");
  const PhoneOptions& o = ctx.options;
  receiveTable(ctx, "NOR device table", at::nor::kRecordSize, at::nor::kRecordCount, [&](const uint8_t* r) {
    return o.norDeviceId && at::readLe16(r + at::nor::kDeviceId1) == *o.norDeviceId;
  });
  // "Detect NAND Flash": this phone has NAND.
  ctx.port.writeU8(kAck);
  const NandGeometry& g = o.geometry;
  bool found = receiveTable(ctx, "NAND device table", at::nand::kRecordSize, at::nand::kRecordCount, [&](const uint8_t* r) {
    if (at::readLe16(r + at::nand::kMakerCode) != o.nandMaker || at::readLe16(r + at::nand::kDeviceCode) != o.nandDevice)
      return false;
    uint16_t page = at::readLe16(r + at::nand::kPageSize);
    uint16_t spare = at::readLe16(r + at::nand::kSpareSize);
    uint16_t pages = at::readLe16(r + at::nand::kPagesPerBlock);
    if (page != g.pageSize || spare != g.spareSize || pages != g.pagesPerBlock)
      violation("NAND device table", "the record of " + hex(o.nandMaker) + "/" + hex(o.nandDevice) + " to describe " +
                    std::to_string(g.pageSize) + "+" + std::to_string(g.spareSize) + " bytes x " +
                    std::to_string(g.pagesPerBlock) + " pages",
                std::to_string(page) + "+" + std::to_string(spare) + " bytes x " + std::to_string(pages) + " pages");
    return true;
  });
  if (!found)
    violation("NAND device table", "a record for maker " + hex(o.nandMaker) + " device " + hex(o.nandDevice),
              "none among the " + std::to_string(at::nand::kRecordCount) + " records");
}

void sendFlashReport(SessionContext& ctx) {
  ctx.beginStep("flash-report");
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
  ctx.port.writeBytes(first.data(), first.size());
  ctx.port.writeBytes(second.data(), second.size());
  // The flash scan is done: acknowledgement, two u32 and a byte.
  uint8_t tail[10] = {kAck, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  ctx.port.writeBytes(tail, sizeof tail);
}

}  // namespace

void connectAgent(SessionContext& ctx) {
  announceReady(ctx);
  receiveConfiguration(ctx);
  receiveDeviceTables(ctx);
  sendFlashReport(ctx);
  ctx.log.detail("agent connected");
}

}  // namespace hxphone
