#include "hxphone/faults.h"

#include <charconv>

namespace hxphone {

namespace {

bool parseU64(std::string_view text, uint64_t& out) {
  if (text.empty()) return false;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && end == text.data() + text.size();
}

bool parseU32(std::string_view text, uint32_t& out) {
  uint64_t v = 0;
  if (!parseU64(text, v) || v > 0xFFFFFFFFu) return false;
  out = static_cast<uint32_t>(v);
  return true;
}

// Reads an optional positive count: absent means 1.
bool parseCount(std::string_view value, bool hasValue, uint32_t& out) {
  if (!hasValue) {
    out = 1;
    return true;
  }
  return parseU32(value, out) && out > 0;
}

// STEP[:K] of the faults that strike when a step begins for the K-th time.
std::string applyStepTrigger(std::string_view name, std::string_view value, std::string& step, uint32_t& occurrence) {
  std::string_view stepName = value;
  uint32_t k = 1;
  if (auto colon = value.find(':'); colon != std::string_view::npos) {
    stepName = value.substr(0, colon);
    if (!parseU32(value.substr(colon + 1), k) || k == 0) return std::string(name) + ": bad occurrence count";
  }
  if (!isStepName(stepName)) return std::string(name) + ": unknown step '" + std::string(stepName) + "'";
  step = std::string(stepName);
  occurrence = k;
  return {};
}

// STEP:N of the faults that strike N bytes into a step's first run.
std::string applyInStep(std::string_view name, std::string_view value, InStepFault& fault) {
  const size_t colon = value.find(':');
  if (colon == std::string_view::npos) return std::string(name) + ": needs STEP:BYTES";
  const std::string_view step = value.substr(0, colon);
  if (!isStepName(step)) return std::string(name) + ": unknown step '" + std::string(step) + "'";
  if (!parseU64(value.substr(colon + 1), fault.offset)) return std::string(name) + ": bad byte offset";
  fault.step = std::string(step);
  return {};
}

std::string applySlowLink(FaultPlan& plan, std::string_view value) {
  std::string_view rate = value;
  std::string_view latency;
  if (auto colon = value.find(':'); colon != std::string_view::npos) {
    rate = value.substr(0, colon);
    latency = value.substr(colon + 1);
  }
  if (!parseU32(rate, plan.linkBytesPerSecond) || plan.linkBytesPerSecond == 0) return "slow-link: bad byte rate";
  if (!latency.empty()) {
    uint32_t us = 0;
    // The latency is given in ms with up to three decimals ("1", "0.125").
    std::string_view whole = latency, frac;
    if (auto dot = latency.find('.'); dot != std::string_view::npos) {
      whole = latency.substr(0, dot);
      frac = latency.substr(dot + 1);
    }
    uint32_t ms = 0, part = 0;
    if (!parseU32(whole, ms) || frac.size() > 3 || (!frac.empty() && !parseU32(frac, part)) || ms > 60000)
      return "slow-link: bad latency";
    for (size_t i = frac.size(); i < 3; ++i) part *= 10;
    us = ms * 1000 + part;
    plan.turnaroundLatencyMs = us / 1000.0;
  }
  return {};
}

}  // namespace

bool isStepName(std::string_view name) {
  for (auto step : kStepNames)
    if (step == name) return true;
  return false;
}

std::string applyFault(FaultPlan& plan, std::string_view text) {
  std::string_view name = text, value;
  bool hasValue = false;
  if (auto eq = text.find('='); eq != std::string_view::npos) {
    name = text.substr(0, eq);
    value = text.substr(eq + 1);
    hasValue = true;
  }
  auto flag = [&](bool& f) -> std::string {
    if (hasValue) return std::string(name) + " takes no value";
    f = true;
    return {};
  };
  auto count = [&](uint32_t& c) -> std::string {
    return parseCount(value, hasValue, c) ? std::string() : std::string(name) + ": bad count";
  };
  if (name == "silent") return flag(plan.silent);
  if (name == "endless-garbage") return flag(plan.endlessGarbage);
  if (name == "bad-agent-checksum") return flag(plan.badAgentChecksum);
  if (name == "no-rom-info") return flag(plan.noRomInfo);
  if (name == "spare-exhaustion") return flag(plan.spareExhaustion);
  if (name == "handshake-glitch") return count(plan.handshakeGlitchAt);
  if (name == "garbage-before-ready") return count(plan.garbageBeforeReady);
  if (name == "bad-block-checksum") return count(plan.badBlockChecksumAt);
  if (name == "resend-packet") return count(plan.resendPackets);
  if (name == "format-fails") return count(plan.formatFailsAt);
  if (name == "bad-readback-sum") return count(plan.badReadBackSums);
  if (name == "page-status") return count(plan.pageStatusAt);
  if (name == "unplug-after-bytes") {
    uint64_t n = 0;
    if (!hasValue || !parseU64(value, n)) return "unplug-after-bytes: needs a byte count";
    plan.unplugAfterBytes = n;
    return {};
  }
  auto stepTrigger = [&](std::string& step, uint32_t& occurrence) -> std::string {
    if (!hasValue) return std::string(name) + ": needs a step name";
    return applyStepTrigger(name, value, step, occurrence);
  };
  if (name == "unplug-at") return stepTrigger(plan.unplugAtStep, plan.unplugAtOccurrence);
  if (name == "silent-at") return stepTrigger(plan.silentAtStep, plan.silentAtOccurrence);
  if (name == "status-at") return stepTrigger(plan.statusAtStep, plan.statusAtOccurrence);
  auto inStep = [&](InStepFault& fault) -> std::string {
    return hasValue ? applyInStep(name, value, fault) : std::string(name) + ": needs STEP:BYTES";
  };
  if (name == "unplug-in") return inStep(plan.unplugIn);
  if (name == "noise-in") return inStep(plan.noiseIn);
  if (name == "noise-out") return inStep(plan.noiseOut);
  if (name == "slow-link") return hasValue ? applySlowLink(plan, value) : "slow-link: needs BPS[:LATENCY_MS]";
  return "unknown fault '" + std::string(name) + "'";
}

std::vector<std::pair<std::string, std::string>> faultDescriptions() {
  return {
      {"silent", "never answers the BootROM handshake (reads and drops what comes)"},
      {"handshake-glitch[=N]", "the N-th handshake answer (default 1st) is 0x00 instead of the complement"},
      {"garbage-before-ready=N", "the agent sends N garbage bytes (never 0xC0) before its 0xC0"},
      {"endless-garbage", "the agent keeps sending garbage bytes and never 0xC0"},
      {"bad-agent-checksum", "the BootROM answers the checksum command with a wrong value"},
      {"bad-block-checksum[=K]", "the K-th write-block (default 1st) answers a wrong data checksum"},
      {"resend-packet[=N]", "the first N block-write data packets are answered with a resend request (0x00)"},
      {"unplug-after-bytes=N", "unplugs as soon as N bytes have come from the host"},
      {"unplug-at=STEP[:K]", "unplugs when STEP begins for the K-th time (default 1st)"},
      {"silent-at=STEP[:K]", "stops answering when STEP begins for the K-th time; the port stays until the host goes"},
      {"status-at=STEP[:K]", "answers STEP's K-th beginning with eight 0xEE bytes (no control byte, no known status), then is silent"},
      {"unplug-in=STEP:N", "unplugs once N bytes have crossed the link (either way) since STEP first began"},
      {"noise-in=STEP:N", "line noise: the host's N-th byte (from 0) since STEP first began arrives inverted"},
      {"noise-out=STEP:N", "line noise: the phone's N-th byte (from 0) since STEP first began leaves inverted"},
      {"no-rom-info", "read-back of blocks 2..9 returns erased bytes: no ROM information"},
      {"format-fails[=K]", "the K-th format command (default 1st) ends with an error status"},
      {"bad-readback-sum[=N]", "the first N read-back chunks are sent with a wrong sum"},
      {"spare-exhaustion", "every write-block and write-pages is refused as a bad block (0xA5, 3041)"},
      {"page-status[=K]", "the K-th write-pages page (default 1st) is answered 0x96 and status 3042, then its sum, "
                          "which the host must confirm with 0x5A; the command ends there"},
      {"slow-link=BPS[:LATENCY_MS]", "limits the link to BPS bytes per second each way, with a latency per turnaround"},
  };
}

}  // namespace hxphone
