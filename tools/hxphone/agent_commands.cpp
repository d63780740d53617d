#include "hxphone/agent_commands.h"

#include "hxphone/agent_connect.h"
#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

// Which commands the host may send next.
class CommandOrder {
 public:
  void check(uint8_t cmd) {
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
      default: violation("agent command", "E0, BE, DC, DD, DE, DF, D4, BD, C0 or DB", hex(cmd));
    }
    if (expected) violation("command order", expected, hex(cmd) + " as command " + std::to_string(m_count + 1));
    ++m_count;
    m_e0 |= cmd == 0xE0;
    m_shared += cmd == 0xBE;
    m_bootloader |= cmd == 0xDC;
    m_imageList |= cmd == 0xDD;
    m_nfb |= cmd == 0xDE;
  }

 private:
  int m_count = 0;
  bool m_e0 = false;
  int m_shared = 0;
  bool m_bootloader = false;
  bool m_imageList = false;
  bool m_nfb = false;
};

void serveE0(SessionContext& ctx) {
  ctx.beginStep("e0");
  ctx.port.expectU32(0, "E0 argument");
  ctx.port.writeU8(kAck);
}

void serveSharedData(SessionContext& ctx) {
  uint32_t index = ctx.stepCount("shared-data");
  ctx.beginStep("shared-data");
  PhonePort& port = ctx.port;
  port.writeU32(0);
  port.writeU8(kAck);
  uint32_t type = port.readU32("shared-data type");
  if (type != kSharedDataTypes[index]) violation("shared-data read", hex(kSharedDataTypes[index], 5), hex(type, 5));
  port.writeU8(kAck);
  std::vector<uint8_t> data = sharedDataFor(type);
  port.writeU32(static_cast<uint32_t>(data.size()));
  port.writeBytes(data.data(), data.size());
  ctx.record.sharedData(type);
}

void serveWatchdog(SessionContext& ctx) {
  ctx.beginStep("watchdog-on");
  uint16_t value = ctx.port.readU16("watchdog value");
  ctx.record.watchdog(value);
  if (value != kWatchdogOnValue) violation("watchdog command", std::to_string(kWatchdogOnValue), std::to_string(value));
  ctx.port.writeU8(kAck);
}

}  // namespace

std::vector<uint8_t> sharedDataFor(uint32_t type) {
  std::vector<uint8_t> data(8);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(type + i * 3);
  return data;
}

void serveAgentCommands(SessionContext& ctx) {
  CommandOrder order;
  for (;;) {
    uint8_t cmd = ctx.port.readU8("an agent command");
    order.check(cmd);
    ctx.record.command(hex(cmd));
    switch (cmd) {
      case 0xE0: serveE0(ctx); break;
      case 0xBE: serveSharedData(ctx); break;
      case 0xDC: serveBootloader(ctx); break;
      case 0xDD: serveImageList(ctx); break;
      case 0xDE: serveNfbImages(ctx); break;
      case 0xDF: serveReadBack(ctx); break;
      case 0xD4: serveFormat(ctx); break;
      case 0xBD: serveWriteBlock(ctx); break;
      case 0xC0: serveWritePages(ctx); break;
      case 0xDB: serveWatchdog(ctx); return;
    }
  }
}

}  // namespace hxphone
