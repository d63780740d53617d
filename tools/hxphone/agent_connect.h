#pragma once
// The download agent's start: 0xC0, its version 0x03 0x02 and the chip type,
// the host's configuration bytes, the NOR and NAND device tables record by
// record (0x5A at the record of this phone's own flash), the flash report
// (28 + 53 bytes), and the acknowledgement after the flash scan.
#include <cstddef>
#include <cstdint>

#include "hxphone/session_context.h"

namespace hxphone {

inline constexpr uint8_t kAck = 0x5A;
inline constexpr uint8_t kContinue = 0x69;
inline constexpr uint8_t kRefuse = 0xA5;
inline constexpr uint8_t kStoreFailed = 0x96;
inline constexpr uint8_t kReady = 0xC0;
inline constexpr uint32_t kBadBlockStatus = 3041;
inline constexpr uint32_t kPageFailedStatus = 3042;  // a page the agent could not store, for another reason than a bad block

inline constexpr size_t kFlashReportFirstPart = 28;
inline constexpr size_t kFlashReportSecondPart = 53;

Ending connectAgent(SessionContext& ctx);

}  // namespace hxphone
