#pragma once
// What the download agent's block transfers can carry: the write-block
// packet, which holds a whole number of pages with their spare bytes, and the
// read-back request, whose address and length fall on fixed boundaries. The
// block writes frame their commands by it, and the FS image checks refuse an
// image whose geometry it cannot carry before anything of it is sent.
#include <cstdint>

namespace hx {

inline constexpr uint32_t kBlockPacketBytes = 0x4200;  // one write-block packet: 16896 bytes
// Read-back requests: the address on a 2 KiB page boundary, the length in
// whole 4 KiB transfer chunks (0x1000 and 0x1800 is refused for its length).
inline constexpr uint32_t kReadBackAddressAlignment = 0x800;
inline constexpr uint32_t kReadBackLengthAlignment = 0x1000;

// Pages with their spare bytes in one write-block packet: 32 of 512 bytes
// (16 spare bytes each) or 8 of 2048 bytes (64 spare bytes each); 0 for any
// other page and spare size, which no packet carries.
uint32_t pagesPerBlockPacket(uint32_t pageSize, uint32_t spareSize);

// True when write-block can send a block of `pagesPerBlock` such pages: a
// packet size the agent takes, and the block a whole number of packets. The
// same pages go out one by one with write-pages.
bool blockWritesCanFrame(uint32_t pageSize, uint32_t spareSize, uint32_t pagesPerBlock);

// True when read-back can address a block of `blockDataSize` bytes: every
// block's address and the block's length on the request's boundaries.
bool readBackCanAddressBlocks(uint32_t blockDataSize);

}  // namespace hx
