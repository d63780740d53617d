#pragma once
// A Link whose phone side is a script: the bytes the phone sends, time-outs,
// pauses and read errors, in order. Everything the host writes is recorded.
// When the script runs out the phone is silent: reads time out at once (no
// sleeping). Bytes count as waiting up to the next time-out, pause or error.
#include <chrono>
#include <cstdint>
#include <deque>
#include <optional>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "link/link.h"

namespace hx::test {

class ScriptedLink : public Link {
 public:
  // Phone bytes, in order; consecutive byte runs form one stream.
  void reply(std::initializer_list<uint8_t> bytes) { replyBytes(std::vector<uint8_t>(bytes)); }
  void replyBytes(const std::vector<uint8_t>& bytes) {
    if (bytes.empty()) return;
    if (!m_script.empty() && m_script.back().kind == Kind::Data) {
      m_script.back().bytes.insert(m_script.back().bytes.end(), bytes.begin(), bytes.end());
      return;
    }
    m_script.push_back({Kind::Data, bytes});
  }
  void replyU16(uint16_t v) { reply({static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}); }
  void replyU32(uint32_t v) {
    reply({static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
           static_cast<uint8_t>(v)});
  }
  // `count` reads that time out with nothing.
  void silence(int count = 1) {
    for (int i = 0; i < count; ++i) m_script.push_back({Kind::Silence, {}});
  }
  // The phone says nothing for `ms` real milliseconds, counted from when the
  // host has read, or seen waiting, all that came before: reads time out at
  // once until then.
  void pause(uint32_t ms) { m_script.push_back({Kind::Pause, {}, 0, std::chrono::milliseconds(ms)}); }
  // One read that fails (the phone has gone).
  void readError() { m_script.push_back({Kind::Error, {}}); }
  // Every read fails once the script has run out.
  void hangUpAtEnd() { m_hungUp = true; }
  // Writes with this index (0-based) and after it fail with `code`.
  void failWritesFrom(size_t index, int code = kLinkFailed) {
    m_failWritesFrom = index;
    m_writeFailure = code;
  }

  int write(const uint8_t* bytes, size_t n) override {
    if (writes.size() >= m_failWritesFrom) return m_writeFailure;
    writes.emplace_back(bytes, bytes + n);
    sent.insert(sent.end(), bytes, bytes + n);
    if (onWrite) onWrite(*this, bytes, n);
    return kLinkOk;
  }

  int read(uint8_t* dest, size_t n, size_t* got) override {
    ++reads;
    *got = 0;
    if (pausing()) return kLinkNothingReceived;
    if (m_script.empty()) return m_hungUp ? kLinkFailed : kLinkNothingReceived;
    Item& front = m_script.front();
    if (front.kind != Kind::Data) {
      const Kind kind = front.kind;
      m_script.pop_front();
      return kind == Kind::Silence ? kLinkNothingReceived : kLinkFailed;
    }
    while (*got < n && front.pos < front.bytes.size()) dest[(*got)++] = front.bytes[front.pos++];
    if (front.pos == front.bytes.size()) m_script.pop_front();
    return *got == n ? kLinkOk : kLinkFailed;
  }

  // A scripted read error is the phone going away.
  std::string failureDetail() const override { return "the port went away (hang-up)"; }

  int setTimeouts(uint32_t readMs, uint32_t writeMs) override {
    timeouts.push_back({readMs, writeMs});
    return m_timeoutsFail ? kLinkFailed : kLinkOk;
  }
  void failTimeouts() { m_timeoutsFail = true; }

  size_t waiting() override {
    ++waitingLooks;
    size_t n = 0;
    for (Item& i : m_script) {
      if (i.kind == Kind::Pause && pauseOver(i)) continue;
      if (i.kind != Kind::Data) break;
      n += i.bytes.size() - i.pos;
    }
    return n;
  }

  // Phone bytes not yet read.
  size_t unread() const {
    size_t n = 0;
    for (const Item& i : m_script)
      if (i.kind == Kind::Data) n += i.bytes.size() - i.pos;
    return n;
  }

  std::vector<uint8_t> sent;
  std::vector<std::vector<uint8_t>> writes;
  std::vector<std::pair<uint32_t, uint32_t>> timeouts;
  int reads = 0;
  int waitingLooks = 0;  // how often the host asked how many bytes wait
  // Called after every accepted write; lets a test answer what was sent.
  std::function<void(ScriptedLink&, const uint8_t*, size_t)> onWrite;

 private:
  enum class Kind { Data, Silence, Error, Pause };
  struct Item {
    Kind kind;
    std::vector<uint8_t> bytes;
    size_t pos = 0;
    std::chrono::milliseconds length{};
    std::optional<std::chrono::steady_clock::time_point> started;
  };

  // Whether the pause has passed; it begins the first time it is asked.
  static bool pauseOver(Item& pause) {
    const auto now = std::chrono::steady_clock::now();
    if (!pause.started) pause.started = now;
    return now - *pause.started >= pause.length;
  }

  // Whether a pause at the front still lasts; one that is over is dropped.
  bool pausing() {
    while (!m_script.empty() && m_script.front().kind == Kind::Pause) {
      if (!pauseOver(m_script.front())) return true;
      m_script.pop_front();
    }
    return false;
  }
  std::deque<Item> m_script;
  bool m_hungUp = false;
  bool m_timeoutsFail = false;
  size_t m_failWritesFrom = SIZE_MAX;
  int m_writeFailure = kLinkFailed;
};

// Big-endian bytes of a value, for building expected wire sequences.
inline std::vector<uint8_t> be32(uint32_t v) {
  return {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
          static_cast<uint8_t>(v)};
}
inline std::vector<uint8_t> be16(uint32_t v) { return {static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)}; }
inline std::vector<uint8_t> cat(std::initializer_list<std::vector<uint8_t>> parts) {
  std::vector<uint8_t> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

}  // namespace hx::test
