#pragma once
// What a virtual phone is: its NAND chip, its baseband chip, its bad blocks,
// the faults it shows, and how patient it is with a silent host.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "hxphone/faults.h"
#include "hxphone/nand_model.h"
#include "hxphone/phone_log.h"
#include "hxphone/port_timing.h"

namespace hxphone {

struct PhoneOptions {
  std::string name = "hxphone";
  NandGeometry geometry = NandGeometry::largePage(1024);
  uint16_t nandMaker = 0xEC;
  uint16_t nandDevice = 0xF1;
  std::optional<uint16_t> norDeviceId;  // a phone with NOR flash answers its NOR record; none by default
  uint8_t chipType = 0x20;              // baseband chip type the agent reports
  bool powerKeyLatched = false;         // the key registers already hold 0xA357/0x67D2
  std::vector<uint32_t> factoryBadBlocks;
  std::vector<uint32_t> failingBlocks;  // good until programmed, then bad (answered with 3041)
  FaultPlan faults;
  PortTiming timing;
  bool noteTurns = false;               // keep the link's exchange turn by turn (VirtualPhone::turns)
  bool verbose = false;
  PhoneLog::Sink logSink;               // empty: standard error
};

// The NAND table record this phone answers with 0x5A: its maker and device codes.
// A fresh NAND holding only the factory-bad blocks of the options.
NandModel freshNand(const PhoneOptions& options);

}  // namespace hxphone
