#include "hxphone/agent_commands.h"

#include "hxphone/agent_connect.h"
#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

// Which commands the host may send next.
class CommandOrder {
 public:
  // Whether `cmd` may come now; a command out of order is a violation.
  Ending check(uint8_t cmd) {
    const char* expected = nullptr;
    switch (cmd) {
      case 0xE0: expected = m_count == 0 ? nullptr : "E0 only as the first command"; break;
      case 0xBE: expected = m_e0 && m_shared < 4 && !m_bootloader ? nullptr : "BE after E0, four times"; break;
      case 0xDC: expected = m_shared == 4 && !m_bootloader ? nullptr : "DC once, after the four BE"; break;
      case 0xDD: expected = m_bootloader && !m_imageList ? nullptr : "DD once, after DC"; break;
      case 0xDE: expected = m_imageList && !m_nfb ? nullptr : "DE once, after DD"; break;
      case 0xDF:
      case 0xD4:
      case 0xBD:
      case 0xC0:
      case 0xDB: expected = m_nfb ? nullptr : "this command only after DE"; break;
      default: return violation("agent command", "E0, BE, DC, DD, DE, DF, D4, BD, C0 or DB", hex(cmd));
    }
    if (expected) return violation("command order", expected, hex(cmd) + " as command " + std::to_string(m_count + 1));
    ++m_count;
    m_e0 |= cmd == 0xE0;
    m_shared += cmd == 0xBE;
    m_bootloader |= cmd == 0xDC;
    m_imageList |= cmd == 0xDD;
    m_nfb |= cmd == 0xDE;
    return kGoOn;
  }

 private:
  int m_count = 0;
  bool m_e0 = false;
  int m_shared = 0;
  bool m_bootloader = false;
  bool m_imageList = false;
  bool m_nfb = false;
};

Ending serveE0(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("e0")) return end;
  if (Ending end = ctx.port.expectU32(0, "E0 argument")) return end;
  return ctx.port.writeU8(kAck);
}

Ending serveSharedData(SessionContext& ctx) {
  uint32_t index = ctx.stepCount("shared-data");
  if (Ending end = ctx.beginStep("shared-data")) return end;
  PhonePort& port = ctx.port;
  if (Ending end = port.writeU32(0)) return end;
  if (Ending end = port.writeU8(kAck)) return end;
  uint32_t type = 0;
  if (Ending end = port.readU32(&type, "shared-data type")) return end;
  if (type != kSharedDataTypes[index])
    return violation("shared-data read", hex(kSharedDataTypes[index], 5), hex(type, 5));
  if (Ending end = port.writeU8(kAck)) return end;
  std::vector<uint8_t> data = sharedDataFor(type);
  if (Ending end = port.writeU32(static_cast<uint32_t>(data.size()))) return end;
  if (Ending end = port.writeBytes(data.data(), data.size())) return end;
  ctx.record.sharedData(type);
  return kGoOn;
}

// After the watchdog command the phone resets: the session's normal end.
SessionEnd serveWatchdog(SessionContext& ctx) {
  if (Ending end = ctx.beginStep("watchdog-on")) return end.end();
  uint16_t value = 0;
  if (Ending end = ctx.port.readU16(&value, "watchdog value")) return end.end();
  ctx.record.watchdog(value);
  if (value != kWatchdogOnValue) return violation("watchdog command", std::to_string(kWatchdogOnValue), std::to_string(value));
  if (Ending end = ctx.port.writeU8(kAck)) return end.end();
  return {Outcome::Reset, "the host re-enabled the watchdog"};
}

Ending serveCommand(SessionContext& ctx, uint8_t cmd) {
  switch (cmd) {
    case 0xE0: return serveE0(ctx);
    case 0xBE: return serveSharedData(ctx);
    case 0xDC: return serveBootloader(ctx);
    case 0xDD: return serveImageList(ctx);
    case 0xDE: return serveNfbImages(ctx);
    case 0xDF: return serveReadBack(ctx);
    case 0xD4: return serveFormat(ctx);
    case 0xBD: return serveWriteBlock(ctx);
    case 0xC0: return serveWritePages(ctx);
    case 0xDB: return serveWatchdog(ctx);
  }
  return kGoOn;
}

}  // namespace

std::vector<uint8_t> sharedDataFor(uint32_t type) {
  std::vector<uint8_t> data(8);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(type + i * 3);
  return data;
}

SessionEnd serveAgentCommands(SessionContext& ctx) {
  CommandOrder order;
  for (;;) {
    uint8_t cmd = 0;
    if (Ending end = ctx.port.readU8(&cmd, "an agent command")) return end.end();
    if (Ending end = order.check(cmd)) return end.end();
    ctx.record.command(hex(cmd));
    if (Ending end = serveCommand(ctx, cmd)) return end.end();
  }
}

}  // namespace hxphone
