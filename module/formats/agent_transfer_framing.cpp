#include "formats/agent_transfer_framing.h"

namespace hx {

static_assert(32 * (512 + 16) == kBlockPacketBytes && 8 * (2048 + 64) == kBlockPacketBytes,
              "a write-block packet holds whole pages with their spare bytes");

uint32_t pagesPerBlockPacket(uint32_t pageSize, uint32_t spareSize) {
  if (pageSize == 512 && spareSize == 16) return 32;
  if (pageSize == 2048 && spareSize == 64) return 8;
  return 0;
}

bool blockWritesCanFrame(uint32_t pageSize, uint32_t spareSize, uint32_t pagesPerBlock) {
  const uint32_t perPacket = pagesPerBlockPacket(pageSize, spareSize);
  return perPacket != 0 && pagesPerBlock != 0 && pagesPerBlock % perPacket == 0;
}

bool readBackCanAddressBlocks(uint32_t blockDataSize) {
  return blockDataSize != 0 && blockDataSize % kReadBackAddressAlignment == 0 &&
         blockDataSize % kReadBackLengthAlignment == 0;
}

}  // namespace hx
