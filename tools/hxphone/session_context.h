#pragma once
// Everything one conversation between a host and the phone shares: the
// link and its port, the NAND, the options, the log, the record, and what
// earlier steps left for later ones (the announced image list, how often
// each step began).
#include <chrono>
#include <cstdint>
#include <optional>
#include <map>
#include <string>
#include <vector>

#include "hxphone/nand_model.h"
#include "hxphone/phone_log.h"
#include "hxphone/phone_options.h"
#include "hxphone/phone_port.h"
#include "hxphone/phone_record.h"
#include "hxphone/session_end.h"
#include "hxphone/session_link.h"

namespace hxphone {

// The ROM images the host announced with the image list command.
struct AnnouncedImages {
  bool received = false;
  uint32_t romInfoStart = 0;  // offset of the ROM information record in the primary image
  uint32_t romInfoEnd = 0;    // its last byte
  uint32_t primaryLength = 0;
  uint32_t secondaryLength = 0;
};

struct SessionContext {
  SessionLink& link;
  PhonePort& port;  // the link's typed reads and writes
  NandModel& nand;
  const PhoneOptions& options;
  PhoneLog& log;
  PhoneRecord& record;
  AnnouncedImages images;
  std::map<std::string, uint32_t> stepCounts;
  uint32_t badReadBackSumsSent = 0;   // bad-readback-sum fault: chunks sent with a wrong sum
  uint32_t resendRequestsSent = 0;    // resend-packet fault: packets answered with a resend request
  uint32_t writePagesPagesSeen = 0;   // page-status fault: write-pages pages received so far
  uint32_t primaryRomBlock = 2;  // where the primary ROM image goes (after the bootloaders)
  std::optional<std::chrono::steady_clock::time_point> faultStruck;  // when a step fault of the plan struck

  // Marks the start of a protocol step; the session ends here when a fault
  // of the plan strikes at this step.
  Ending beginStep(const std::string& step);
  // How often the step has begun so far (this time included).
  uint32_t stepCount(const std::string& step) const;
};

}  // namespace hxphone
