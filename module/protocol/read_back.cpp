#include <algorithm>

#include "protocol/agent_commands.h"
#include "protocol/agent_command_bytes.h"
#include "protocol/agent_wire.h"
#include "link/link_ops.h"

namespace hx {
namespace {

constexpr uint32_t kReadBackUnitBytes = 4224;  // what the agent's chunk size is measured against
constexpr int kChunkResendBudget = 10;          // chunk resends for the whole command

// The agent's description of what it will send, and our answer n.
struct ReadBackPlan {
  uint64_t chunkBytes = 0;
  uint32_t total = 0;
};

bool negotiate(Link& link, ReadBackPlan* plan) {
  uint32_t a1 = 0, a2 = 0, a3 = 0;
  if (readU32(link, &a1) != kLinkOk || readU32(link, &a2) != kLinkOk || readU32(link, &a3) != kLinkOk)
    return false;
  // a3, the unit the agent sends, is a page or a page with its spare: a
  // larger one is a garbled answer, and a chunk of it would be waited for
  // as long as its length.
  const uint64_t unit = static_cast<uint64_t>(a1) + a2;
  if (unit == 0 || a3 > unit) return false;
  const uint32_t n = static_cast<uint32_t>(kReadBackUnitBytes / unit);
  if (writeU32(link, n) != kLinkOk || readU32(link, &plan->total) != kLinkOk) return false;
  plan->chunkBytes = static_cast<uint64_t>(n) * a3;
  return true;
}

// Receives the announced bytes chunk by chunk, each checked against the
// agent's sum and asked for again (0x69) while the resend budget lasts.
bool receiveChunks(Link& link, const ReadBackPlan& plan, uint8_t* dest) {
  uint32_t offset = 0;
  int resends = 0;
  while (offset < plan.total) {
    const uint32_t length = static_cast<uint32_t>(std::min<uint64_t>(plan.chunkBytes, plan.total - offset));
    uint16_t agentSum = 0;
    if (readExact(link, dest + offset, length) != kLinkOk || readU16Waiting(link, &agentSum) != kLinkOk)
      return false;
    if (byteSum16(dest + offset, length) == agentSum) {
      offset += length;
      if (writeU8(link, kAgentAck) != kLinkOk) return false;
    } else if (resends < kChunkResendBudget) {
      ++resends;
      if (writeU8(link, kAgentContinue) != kLinkOk) return false;
    } else {
      link.noteCause(LinkCause::sumsKeptFailing(resends + 1));
      writeU8(link, kAgentRefusal);
      return false;
    }
  }
  return true;
}

}  // namespace

int readBack(Link& link, uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity) {
  if (address % kReadBackAddressAlignment != 0) return kReadBackAddressUnaligned;
  if (length % kReadBackLengthAlignment != 0) return kReadBackLengthUnaligned;

  uint8_t frame[14] = {kCmdReadBack, mode};
  putU32(putU32(putU32(frame + 2, address), length), 0);
  if (writeBytes(link, frame, sizeof frame) != kLinkOk || !readAcknowledgement(link)) return kReadBackFailed;

  ReadBackPlan plan;
  if (!negotiate(link, &plan)) return kReadBackFailed;
  if (plan.total == 0) return 0;
  // Never more than the destination holds, and never an endless zero-sized chunk.
  if (dest == nullptr || plan.total > capacity || plan.chunkBytes == 0) return kReadBackFailed;
  return receiveChunks(link, plan, dest) ? 0 : kReadBackFailed;
}

}  // namespace hx
