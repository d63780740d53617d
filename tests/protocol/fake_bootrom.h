#pragma once
// A BootROM model behind a Link: answers the handshake, echoes command fields,
// keeps 16-bit registers, takes agent images and reports their checksum.
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

#include "link/link.h"

namespace hx::test {

class FakeBootRom : public Link {
 public:
  struct RegisterWrite {
    uint32_t address;
    uint16_t value;
    bool operator==(const RegisterWrite&) const = default;
  };
  struct LoadedImage {
    uint32_t address;
    std::vector<uint8_t> wireBytes;  // as received (high byte of each word first)
  };

  std::map<uint32_t, uint16_t> registers;
  // Values a register read returns before it falls back to `registers`.
  std::map<uint32_t, std::deque<uint16_t>> scriptedReads;
  std::vector<RegisterWrite> writes;
  std::vector<uint32_t> reads;
  std::vector<LoadedImage> images;
  std::vector<uint32_t> jumps;
  uint16_t checksumAdjust = 0;       // XORed into the reported checksum
  uint32_t failWriteToAddress = 0;   // a write to it is echoed wrongly
  int handshakeSilentBytes = 0;      // handshake bytes answered with nothing

  int write(const uint8_t* bytes, size_t n) override {
    for (size_t i = 0; i < n; ++i) take(bytes[i]);
    return kLinkOk;
  }
  int read(uint8_t* dest, size_t n, size_t* got) override {
    *got = 0;
    while (*got < n && !m_out.empty()) {
      dest[(*got)++] = m_out.front();
      m_out.pop_front();
    }
    if (*got == n) return kLinkOk;
    return *got == 0 ? kLinkNothingReceived : kLinkFailed;
  }
  int setTimeouts(uint32_t, uint32_t) override { return kLinkOk; }

 private:
  enum class State { Handshake, Command, Fields, ImageData };

  void take(uint8_t b) {
    switch (m_state) {
      case State::Handshake: return handshake(b);
      case State::Command: return command(b);
      case State::Fields: return field(b);
      case State::ImageData: return imageData(b);
    }
  }

  void handshake(uint8_t b) {
    static constexpr uint8_t seq[4] = {0xA0, 0x0A, 0x50, 0x05};
    if (handshakeSilentBytes > 0) {
      --handshakeSilentBytes;
      m_progress = 0;
      return;
    }
    m_out.push_back(static_cast<uint8_t>(~b));
    m_progress = b == seq[m_progress] ? m_progress + 1 : (b == seq[0] ? 1 : 0);
    if (m_progress == 4) m_state = State::Command;
  }

  void command(uint8_t b) {
    m_out.push_back(b);  // echo
    m_command = b;
    m_fields.clear();
    m_widths.clear();
    switch (b) {
      case 0xA1: m_widths = {4, 4, 2}; break;
      case 0xA2: case 0xAD: case 0xA4: m_widths = {4, 4}; break;
      case 0xA8: m_widths = {4}; break;
      default: return;  // unknown: stay in command mode
    }
    m_state = State::Fields;
    m_acc = 0;
    m_accBytes = 0;
  }

  void field(uint8_t b) {
    m_acc = m_acc << 8 | b;
    ++m_accBytes;
    if (m_accBytes < m_widths[m_fields.size()]) return;
    const uint32_t value = m_acc;
    const int width = m_widths[m_fields.size()];
    m_fields.push_back(value);
    m_acc = 0;
    m_accBytes = 0;
    uint32_t echo = value;
    if (m_command == 0xA1 && m_fields.size() == 3 && m_fields[0] == failWriteToAddress && failWriteToAddress != 0)
      echo ^= 1;
    for (int i = width - 1; i >= 0; --i) m_out.push_back(static_cast<uint8_t>(echo >> (8 * i)));
    if (m_fields.size() == m_widths.size()) complete();
  }

  void complete() {
    m_state = State::Command;
    switch (m_command) {
      case 0xA1:
        writes.push_back({m_fields[0], static_cast<uint16_t>(m_fields[2])});
        registers[m_fields[0]] = static_cast<uint16_t>(m_fields[2]);
        break;
      case 0xA2: {
        reads.push_back(m_fields[0]);
        uint16_t v = registers[m_fields[0]];
        auto& q = scriptedReads[m_fields[0]];
        if (!q.empty()) {
          v = q.front();
          q.pop_front();
        }
        m_out.push_back(static_cast<uint8_t>(v >> 8));
        m_out.push_back(static_cast<uint8_t>(v));
        break;
      }
      case 0xAD:
        images.push_back({m_fields[0], {}});
        m_imageBytesLeft = static_cast<size_t>(m_fields[1]) * 2;
        if (m_imageBytesLeft) m_state = State::ImageData;
        break;
      case 0xA4: {
        uint16_t sum = 0;
        const auto& bytes = images.empty() ? std::vector<uint8_t>() : images.back().wireBytes;
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) sum ^= static_cast<uint16_t>(bytes[i] << 8 | bytes[i + 1]);
        sum ^= checksumAdjust;
        m_out.push_back(static_cast<uint8_t>(sum >> 8));
        m_out.push_back(static_cast<uint8_t>(sum));
        break;
      }
      case 0xA8: jumps.push_back(m_fields[0]); break;
    }
  }

  void imageData(uint8_t b) {
    images.back().wireBytes.push_back(b);
    if (--m_imageBytesLeft == 0) m_state = State::Command;
  }

  State m_state = State::Handshake;
  int m_progress = 0;
  uint8_t m_command = 0;
  std::vector<int> m_widths;
  std::vector<uint32_t> m_fields;
  uint32_t m_acc = 0;
  int m_accBytes = 0;
  size_t m_imageBytesLeft = 0;
  std::deque<uint8_t> m_out;
};

}  // namespace hx::test
