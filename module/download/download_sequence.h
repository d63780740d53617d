#pragma once
// The whole conversation with the download agent, from its first byte to the
// watchdog command.
#include <cstdint>

#include "package/package_records.h"
#include "download/agent_images.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

struct DownloadInputs {
  const SessionImages* images = nullptr;    // device tables, BootloaderInfo, RomInfo
  const PackageRecords* package = nullptr;  // bootloader, ROM and FS image records
  uint32_t fsImageCount = 0;                // FS images to write
};

// A download refused before any byte was sent to the agent: the package
// cannot be written (the log line says why).
inline constexpr int kDownloadRefused = 5100;

// The bootloader shared-data types read after the connection, and the buffer
// they are read into (then dropped).
inline constexpr uint32_t kSharedDataTypes[] = {0x10000, 0x10001, 0x10002, 0x10003};
inline constexpr uint32_t kSharedDataBufferBytes = 0x10000;
inline constexpr uint16_t kWatchdogValue = 64;

// 0 when every image was written, otherwise the first failing step's code.
// Events and log lines go to `report`.
int runDownload(Link& link, const DownloadInputs& inputs, SessionReport& report);

}  // namespace hx
