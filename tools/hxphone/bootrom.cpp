#include "hxphone/bootrom.h"

#include <map>
#include <vector>

#include "hxphone/session_end.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

// The 16-bit register file with the behaviour of the watchdog and the
// power-key controller that the host relies on.
class RegisterFile {
 public:
  explicit RegisterFile(bool powerKeyLatched) {
    m_values[kPkControl] = 0x000E;
    if (powerKeyLatched) {
      m_values[kPkKey1] = kPkKey1Value;
      m_values[kPkKey2] = kPkKey2Value;
    }
  }

  uint16_t read(uint32_t address) {
    if (address != kPkStatus) return value(address);
    // Busy for the first reads after power-on, not idle for a while after
    // each trigger: the host's polling loops have something to wait for.
    uint16_t status = value(address) & 0xFF3F;
    if (m_busyReads > 0) {
      --m_busyReads;
      status |= 0x80;
    }
    if (m_pendingReads > 0) {
      --m_pendingReads;
      status |= 0x40;
    }
    return status;
  }

  void write(uint32_t address, uint16_t v) {
    if (address == kPkTrigger && v == 1) {
      m_pendingReads = 2;
      ++m_triggers;
    }
    if (address == kPkUnlock) m_unlockWrites.push_back(v);
    if (address == kPkControl) m_controlWrites.push_back(v);
    m_values[address] = v;
  }

  uint16_t value(uint32_t address) const {
    auto it = m_values.find(address);
    return it == m_values.end() ? 0 : it->second;
  }

  // Checks the effects of the power-key sequence; empty when latched.
  std::string powerKeyProblem() const {
    if (value(kPkKey1) != kPkKey1Value || value(kPkKey2) != kPkKey2Value)
      return "key registers 0x800C0050/54 holding 0xA357/0x67D2";
    const std::vector<uint16_t> unlock = {0x586A, 0x9136, 0x0000};
    if (m_unlockWrites != unlock) return "0x586A, 0x9136, 0x0000 written to 0x800C0068";
    if (m_controlWrites.size() != 1 || m_controlWrites[0] != (m_controlBefore & 0xFFF1))
      return "0x800C0058 written back once with bits 1..3 cleared (" + hex(m_controlBefore & 0xFFF1, 4) + ")";
    if (value(kPkStatus) != 0x430E) return "0x430E written to 0x800C0000";
    if (m_triggers < 4) return "the power-key controller triggered after each step";
    return {};
  }

 private:
  std::map<uint32_t, uint16_t> m_values;
  int m_busyReads = 2;
  int m_pendingReads = 0;
  int m_triggers = 0;
  uint16_t m_controlBefore = 0x000E;
  std::vector<uint16_t> m_unlockWrites;
  std::vector<uint16_t> m_controlWrites;
};

// The four handshake bytes, each answered with its complement; `matched` bytes
// of them have come already.
Ending handshake(SessionContext& ctx, size_t matched = 0) {
  PhonePort& port = ctx.port;
  uint32_t answered = 0;
  bool begun = matched > 0;
  while (matched < 4) {
    uint8_t b = 0;
    if (Ending end = port.readU8Patiently(&b)) return end;
    if (!begun) {
      if (Ending end = ctx.beginStep("handshake")) return end;
      begun = true;
    }
    if (ctx.options.faults.silent) continue;
    if (b == kHandshake[matched] || b == kHandshake[0]) {
      matched = b == kHandshake[matched] ? matched + 1 : 1;
      ++answered;
      bool glitch = ctx.options.faults.handshakeGlitchAt == answered;
      if (glitch) matched = 0;
      if (matched == 4) ctx.record.handshakeDone();
      if (Ending end = port.writeU8(glitch ? 0x00 : static_cast<uint8_t>(~b))) return end;
      continue;
    }
    ctx.log.detail("handshake: expected " + hex(kHandshake[matched]) + ", got " + hex(b) + "; starting again");
    matched = 0;
  }
  ctx.log.detail("handshake done");
  return kGoOn;
}

Ending echoU32(PhonePort& port, uint32_t* value, const char* what) {
  if (Ending end = port.readU32(value, what)) return end;
  return port.writeU32(*value);
}

Ending echoU16(PhonePort& port, uint16_t* value, const char* what) {
  if (Ending end = port.readU16(value, what)) return end;
  return port.writeU16(*value);
}

// An agent image as the BootROM received it.
struct LoadedImage {
  std::string name;
  uint32_t address = 0;
  uint32_t words = 0;
  uint16_t checksum = 0;
  bool checked = false;
};

class CommandMode {
 public:
  explicit CommandMode(SessionContext& ctx) : m_ctx(ctx), m_port(ctx.port), m_regs(ctx.options.powerKeyLatched) {}

  // Serves commands until the host jumps to DA1.
  Ending run() {
    bool commanded = false;
    for (;;) {
      uint8_t cmd = 0;
      if (Ending end = m_port.readU8(&cmd, "a BootROM command")) return end;
      // A host that missed the last handshake answer (it came after the
      // host's read time-out) starts the handshake again; until its first
      // command the BootROM goes along.
      if (!commanded && cmd == kHandshake[0]) {
        if (Ending end = m_port.writeU8(static_cast<uint8_t>(~cmd))) return end;
        if (Ending end = handshake(m_ctx, 1)) return end;
        continue;
      }
      commanded = true;
      if (Ending end = m_port.writeU8(cmd)) return end;
      if (cmd == 0xA8) return jump();
      if (Ending end = serve(cmd)) return end;
    }
  }

 private:
  Ending serve(uint8_t cmd) {
    switch (cmd) {
      case 0xA1: return writeRegister();
      case 0xA2: return readRegister();
      case 0xAD: return loadImage();
      case 0xA4: return checksum();
      default: return violation("BootROM command", "0xA1, 0xA2, 0xA4, 0xA8 or 0xAD", hex(cmd));
    }
  }

  Ending noteRegisterStep(uint32_t address) {
    if (address == kWatchdogRegister && m_ctx.stepCount("watchdog-off") == 0)
      if (Ending end = m_ctx.beginStep("watchdog-off")) return end;
    if ((address & 0xFFFF0000) == 0x800C0000 && m_ctx.stepCount("power-key") == 0)
      if (Ending end = m_ctx.beginStep("power-key")) return end;
    return kGoOn;
  }

  // The address and the count of a register command; the count must be 1.
  Ending receiveRegister(const char* command, uint32_t* address) {
    uint32_t count = 0;
    if (Ending end = echoU32(m_port, address, "register address")) return end;
    if (Ending end = echoU32(m_port, &count, "register count")) return end;
    if (count != 1) return violation(command, "count 1", std::to_string(count));
    return kGoOn;
  }

  Ending writeRegister() {
    uint32_t address = 0;
    uint16_t value = 0;
    if (Ending end = receiveRegister("write 16-bit register", &address)) return end;
    if (Ending end = echoU16(m_port, &value, "register value")) return end;
    if (Ending end = noteRegisterStep(address)) return end;
    m_regs.write(address, value);
    m_ctx.record.registerWrite(address, value);
    m_ctx.log.detail("write " + hex(address, 8) + " = " + hex(value, 4));
    return kGoOn;
  }

  Ending readRegister() {
    uint32_t address = 0;
    if (Ending end = receiveRegister("read 16-bit register", &address)) return end;
    if (Ending end = noteRegisterStep(address)) return end;
    uint16_t value = m_regs.read(address);
    if (Ending end = m_port.writeU16(value)) return end;
    m_ctx.record.registerRead(address, value);
    return kGoOn;
  }

  Ending loadImage() {
    uint32_t address = 0, words = 0;
    if (Ending end = echoU32(m_port, &address, "load address")) return end;
    if (Ending end = echoU32(m_port, &words, "word count")) return end;
    bool first = m_images.empty();
    const char* name = first ? "DA1" : "DA2";
    if (m_images.size() >= 2) return violation("load agent image", "no third image", "another at " + hex(address, 8));
    if (!first && !m_images.back().checked)
      return violation("load agent image", "the checksum command for DA1 first", "DA2");
    if (Ending end = m_ctx.beginStep(first ? "load-da1" : "load-da2")) return end;
    if (Ending end = checkImagePlace(name, first, address, words)) return end;
    // The image travels as 16-bit words, high byte first.
    std::vector<uint8_t> wire(size_t{words} * 2);
    if (Ending end = m_port.readBytes(wire.data(), wire.size(), name)) return end;
    std::vector<uint8_t> image(wire.size());
    for (size_t i = 0; i + 1 < wire.size(); i += 2) {
      image[i] = wire[i + 1];
      image[i + 1] = wire[i];
    }
    m_images.push_back({name, address, words, wordXor16(image), false});
    m_ctx.log.detail(std::string("received ") + name + " (" + std::to_string(image.size()) + " bytes)");
    return kGoOn;
  }

  // DA1 and DA2 each have their address and length, and go in with the watchdog off.
  Ending checkImagePlace(const char* name, bool first, uint32_t address, uint32_t words) {
    uint32_t wantAddress = first ? kDa1Address : kDa2Address;
    uint32_t wantLength = first ? kDa1Length : kDa2Length;
    if (address != wantAddress)
      return violation(std::string("load ") + name, "address " + hex(wantAddress, 8), hex(address, 8));
    if (words != wantLength / 2)
      return violation(std::string("load ") + name, std::to_string(wantLength / 2) + " words", std::to_string(words));
    if (m_regs.value(kWatchdogRegister) != kWatchdogOff)
      return violation(std::string("load ") + name, "the watchdog off (0x2200 at 0x801E0000) first", "it still on");
    return kGoOn;
  }

  Ending checksum() {
    uint32_t address = 0, words = 0;
    if (Ending end = echoU32(m_port, &address, "checksum address")) return end;
    if (Ending end = echoU32(m_port, &words, "checksum word count")) return end;
    if (m_images.empty()) return violation("checksum", "an agent image loaded first", "none");
    LoadedImage& image = m_images.back();
    if (address != image.address || words != image.words)
      return violation("checksum", hex(image.address, 8) + " / " + std::to_string(image.words) + " words",
                       hex(address, 8) + " / " + std::to_string(words) + " words");
    uint16_t answer = image.checksum;
    if (m_ctx.options.faults.badAgentChecksum) answer ^= 0x5AA5;
    if (Ending end = m_port.writeU16(answer)) return end;
    image.checked = true;
    m_ctx.record.agentImage(image.name, image.address, image.words * 2, image.checksum);
    return kGoOn;
  }

  // The jump to DA1 ends command mode.
  Ending jump() {
    uint32_t address = 0;
    if (Ending end = echoU32(m_port, &address, "jump address")) return end;
    if (Ending end = m_ctx.beginStep("jump")) return end;
    m_ctx.record.jump(address);
    if (address != kDa1Address) return violation("jump", hex(kDa1Address, 8), hex(address, 8));
    if (m_images.size() != 2 || !m_images[1].checked)
      return violation("jump", "DA1 and DA2 loaded and checked", std::to_string(m_images.size()) + " image(s)");
    if (std::string problem = m_regs.powerKeyProblem(); !problem.empty())
      return violation("jump", "the power key latched: " + problem, "not so");
    m_ctx.log.detail("jump to DA1");
    return kGoOn;
  }

  SessionContext& m_ctx;
  PhonePort& m_port;
  RegisterFile m_regs;
  std::vector<LoadedImage> m_images;
};

}  // namespace

Ending runBootRom(SessionContext& ctx) {
  if (Ending end = handshake(ctx)) return end;
  return CommandMode(ctx).run();
}

}  // namespace hxphone
