#pragma once
// The whole conversation with the download agent, from its first byte to the
// watchdog command.
#include <cstdint>

#include "package/package_records.h"
#include "protocol/agent_images.h"
#include "serial/link.h"

namespace hx {

struct DownloadInputs {
  const SessionImages* images = nullptr;    // device tables, BootloaderInfo, RomInfo
  const PackageRecords* package = nullptr;  // bootloader, ROM and FS image records
  uint32_t fsImageCount = 0;                // FS images to write
  unsigned eventKey = 0;                    // the session's COM port number
};

// 0 when every image was written, otherwise the first failing step's code.
int runDownload(Link& link, const DownloadInputs& inputs);

}  // namespace hx
