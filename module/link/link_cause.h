#pragma once
// What the link saw when a conversation with the phone broke. The link and the
// protocol steps note it on the link; it is put into words in one place, for
// the line that ends a failed download, and never printed where it is noted.
#include <cstdint>
#include <string>

namespace hx {

struct LinkCause {
  enum class Kind {
    None,
    DeviceFailed,     // the device hung up or failed: `detail` says how, in words
    PortStalled,      // the port took no more bytes for `waitedMs`
    Silent,           // nothing came from the phone for `waitedMs`
    UnexpectedAnswer, // `received` came where `expected` (if `hasExpected`) was due
    SumsKeptFailing,  // the phone's sums of a transfer differed `attempts` times
  };
  // What an unexpected answer was.
  enum class Subject { Byte, Word, Long, Status, Checksum };  // 8, 16, 32 bits (hex), a status (decimal), a 16-bit sum

  Kind kind = Kind::None;
  std::string detail;
  uint32_t waitedMs = 0;
  Subject subject = Subject::Byte;
  uint32_t received = 0;
  uint32_t expected = 0;
  bool hasExpected = false;
  int attempts = 0;

  static LinkCause deviceFailed(std::string detail) {
    return {.kind = Kind::DeviceFailed, .detail = std::move(detail)};
  }
  static LinkCause stalled(uint32_t ms) { return {.kind = Kind::PortStalled, .waitedMs = ms}; }
  static LinkCause silent(uint32_t ms) { return {.kind = Kind::Silent, .waitedMs = ms}; }
  static LinkCause unexpected(Subject subject, uint32_t received, uint32_t expected) {
    return {.kind = Kind::UnexpectedAnswer, .subject = subject, .received = received, .expected = expected,
            .hasExpected = true};
  }
  static LinkCause unexpected(Subject subject, uint32_t received) {
    return {.kind = Kind::UnexpectedAnswer, .subject = subject, .received = received};
  }
  static LinkCause sumsKeptFailing(int attempts) { return {.kind = Kind::SumsKeptFailing, .attempts = attempts}; }
};

}  // namespace hx
