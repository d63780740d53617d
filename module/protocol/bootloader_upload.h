#pragma once
// The bootloader write: the bootloader and the external bootloader, with a
// header built from the bootloader information record.
#include <cstdint>

#include "formats/image_buffer.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

enum BootloaderUploadResult : int {
  kBootloaderUploadFailed = 4014,
  kBootloaderSendFailed = 4008,  // the 0x5A before the ext header, or a bootloader packet sum
};

// Seed XOR every little-endian 32-bit word of the image; a final partial word
// is padded with zero bytes.
uint32_t bootloaderWordChecksum(const ImageBuffer& image, uint32_t seed);

// `bootloaderInfo` is the 136-byte record. 0, 4014 or 4008.
int writeBootloader(Link& link, const ImageBuffer& bootloader, const ImageBuffer& extBootloader,
                    const uint8_t* bootloaderInfo, SessionReport& report);

}  // namespace hx
