#pragma once
// The NAND image list (where the ROM information record lies and which byte
// ranges the ROM images occupy) and the read-back of the phone's ROM
// information record.
#include <cstdint>

#include "formats/image_buffer.h"
#include "protocol/nand_agent.h"
#include "link/link.h"

namespace hx {

// 0 or 4007 (kImageListFailed). A primary ROM image without the record's marker fails before
// anything is sent.
int sendNandImageList(Link& link, const ImageBuffer& primary, const ImageBuffer& secondary, SessionReport& report);

// Reads NAND blocks 2..9 (page data only) until one holds the ROM information
// marker and copies the record into the 352-byte `dest`: 352 bytes, or what
// the block holds after the marker when it ends sooner (the rest zero).
bool readPhoneRomInfo(NandAgent& agent, uint32_t blockDataSize, uint8_t* dest);

}  // namespace hx
