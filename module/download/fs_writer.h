#pragma once
// The FS image write: one FS image of the package written block by block to
// the phone's FS area through the download agent, keeping the phone's
// bad-block history (remap table and region counters of its FS info block).
#include <cstdint>

#include "formats/image_buffer.h"
#include "protocol/nand_agent.h"
#include "link/link.h"

namespace hx {

enum FsWriteResult : int {
  kFsNoPhoneRomInfo = 1024,    // the phone's RomInfo was not found, or its read-back failed
  kFsSparesExhausted = 3051,   // no free reserved block of the needed region
  kFsWriteFailed = 4008,       // a format failed, or a write answered anything but 0 or 3041
  kFsDoesNotFit = 4054,        // the image does not fit the phone's FS area or its info block's layout
  kFsNoHeader = 4056,          // no FsHeader in an info block, or the image is malformed
};

// Writes the FS image `image` (bytes and length). `fsAreaStart` and
// `fsAreaLength` are the FS area of the package's RomInfo, used to format it
// when the phone holds an FS of another version. Its events and log lines go
// to `report`, and so does the reason when it stops.
int writeFsImage(const ImageBuffer& image, NandAgent& agent, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 SessionReport& report);
int writeFsImage(const ImageBuffer& image, Link& link, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 SessionReport& report);

}  // namespace hx
