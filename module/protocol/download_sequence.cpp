#include "protocol/download_sequence.h"

#include "platform/log.h"

namespace hx {

// Placeholder until the agent protocol lands: the download fails cleanly.
int runDownload(Link&, const DownloadInputs&) {
  logMessage("Connecting to DA...\n");
  return 4004;
}

}  // namespace hx
