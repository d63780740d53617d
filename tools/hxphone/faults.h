#pragma once
// The ways a virtual phone can misbehave on purpose. Each fault has a name
// that the command line and the tests use ("name" or "name=value"); the list,
// the step names and their meaning are documented in README.md and must stay
// stable: other tests and the benchmarks depend on them.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hxphone {

// The steps of a download as the phone sees them, in the order they come.
// `unplug-at=STEP[:K]` unplugs when step STEP begins for the K-th time.
inline constexpr std::string_view kStepNames[] = {
    "handshake",  "watchdog-off", "power-key", "load-da1",   "load-da2",   "jump",
    "agent-ready", "device-tables", "flash-report", "e0",     "shared-data", "bootloader",
    "image-list", "nfb",          "read-back", "format",     "write-block", "write-pages",
    "watchdog-on",
};
bool isStepName(std::string_view name);

// What status-at answers: no control byte of the protocol, and read as a
// status (u32) none the host knows.
inline constexpr uint8_t kUnexpectedAnswer[8] = {0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE, 0xEE};

// A fault that strikes inside the first run of a step, at a byte offset
// counted from the step's beginning: `name=STEP:N`.
struct InStepFault {
  std::string step;  // empty: not planned
  uint64_t offset = 0;
};

struct FaultPlan {
  bool silent = false;                  // silent: reads the handshake and never answers
  uint32_t handshakeGlitchAt = 0;       // handshake-glitch[=N]: the N-th handshake answer is 0x00
  uint32_t garbageBeforeReady = 0;      // garbage-before-ready=N: N garbage bytes before 0xC0
  bool endlessGarbage = false;          // endless-garbage: the agent sends garbage and never 0xC0
  bool badAgentChecksum = false;        // bad-agent-checksum: checksum command answers a wrong value
  uint32_t badBlockChecksumAt = 0;      // bad-block-checksum[=K]: K-th write-block answers a wrong checksum
  uint32_t resendPackets = 0;           // resend-packet[=N]: first N block-write data packets get a resend request
  std::optional<uint64_t> unplugAfterBytes;  // unplug-after-bytes=N
  std::string unplugAtStep;             // unplug-at=STEP[:K]
  uint32_t unplugAtOccurrence = 1;
  std::string silentAtStep;             // silent-at=STEP[:K]: stops answering, the port stays
  uint32_t silentAtOccurrence = 1;
  InStepFault unplugIn;                 // unplug-in=STEP:N: unplugs once N bytes crossed the link (either way) in STEP
  InStepFault noiseIn;                  // noise-in=STEP:N: the host's N-th byte (from 0) in STEP arrives inverted
  InStepFault noiseOut;                 // noise-out=STEP:N: the phone's N-th byte (from 0) in STEP leaves inverted
  std::string statusAtStep;             // status-at=STEP[:K]: answers kUnexpectedAnswer, then silent
  uint32_t statusAtOccurrence = 1;
  bool noRomInfo = false;               // no-rom-info: read-back of blocks 2..9 finds no ROM information
  uint32_t formatFailsAt = 0;           // format-fails[=K]: the K-th format command fails
  uint32_t badReadBackSums = 0;         // bad-readback-sum[=N]: first N read-back chunks carry a wrong sum
  bool spareExhaustion = false;         // spare-exhaustion: every block write is refused as a bad block
  uint32_t pageStatusAt = 0;            // page-status[=K]: the K-th write-pages page is answered 0x96 and a status other than 3041
  uint32_t linkBytesPerSecond = 0;      // slow-link=BPS[:LATENCY_MS]; 0 = as fast as the pty goes
  double turnaroundLatencyMs = 0;       // per change of direction (host to phone to host)
};

// Applies one "name" or "name=value" to the plan. Returns an empty string on
// success, else why the text was refused.
std::string applyFault(FaultPlan& plan, std::string_view text);

// Every fault name with its one-line description, for --help and the README.
std::vector<std::pair<std::string, std::string>> faultDescriptions();

}  // namespace hxphone
