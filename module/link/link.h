#pragma once
// The protocol link: the byte pipe a session talks to its phone over. The
// serial device implements it on a real port; unit tests script it.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <string>

#include "link/link_cause.h"

namespace hx {

// Result codes of every link operation.
enum LinkResult : int {
  kLinkOk = 0,
  kLinkNothingReceived = 1,  // read: the time-out passed and not one byte arrived
  kLinkNothingWritten = 2,   // write: zero bytes were accepted
  kLinkFailed = 3,           // the device failed, or fewer bytes than asked were moved
};

class Link {
 public:
  virtual ~Link() = default;

  // Writes all n bytes and returns only when they have left (drained), within
  // n + the write constant in ms. 0, 2 or 3.
  virtual int write(const uint8_t* bytes, size_t n) = 0;

  // Reads up to n bytes into dest, waiting at most n + the read constant in ms.
  // *got receives the number of bytes placed. 0 when all n arrived, 1 when none
  // did, 3 when only some did or the device failed (a hang-up is 3 at once,
  // with *got 0, not a time-out).
  virtual int read(uint8_t* dest, size_t n, size_t* got) = 0;

  // Read and write time-out constants in ms. 0 or 3.
  virtual int setTimeouts(uint32_t readMs, uint32_t writeMs) = 0;

  // How many bytes have come and wait to be read: the link's own buffer and
  // the driver's queue. A link that cannot tell says 0, so a wait for the
  // phone to speak lasts its whole bound.
  virtual size_t waiting() { return 0; }

  // Set by the session's Abort; loops that wait for a phone to appear (the
  // BootROM handshake) consult it between attempts.
  void cancel() { m_cancelled.store(true); }
  void resetCancel() { m_cancelled.store(false); }
  bool cancelled() const { return m_cancelled.load(); }

  // How the device last failed, in words ("the port went away (hang-up)");
  // a link that cannot tell says only that it failed.
  virtual std::string failureDetail() const { return "the port failed"; }

  // Why the conversation broke, as last noted (see LinkCause). A later note
  // replaces an earlier one, except that a device that failed explains
  // everything after it. Used by the session's thread only.
  void noteCause(LinkCause cause) {
    if (m_cause.kind != LinkCause::Kind::DeviceFailed) m_cause = std::move(cause);
  }
  const LinkCause& cause() const { return m_cause; }
  // A failure the conversation went past is no cause of a later one.
  void clearCause() {
    if (m_cause.kind != LinkCause::Kind::DeviceFailed) m_cause = {};
  }

  // The read time-out constant in force, as last set through setLinkTimeouts:
  // how long a single read waits for a silent phone.
  uint32_t readTimeoutMs() const { return m_readTimeoutMs; }
  void rememberReadTimeout(uint32_t ms) { m_readTimeoutMs = ms; }

 private:
  std::atomic<bool> m_cancelled{false};
  LinkCause m_cause;
  uint32_t m_readTimeoutMs = 20;
};

}  // namespace hx
