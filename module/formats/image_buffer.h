#pragma once
// Records shared by the package, the agent images and the writers.
#include <cstdint>

namespace hx {

// A run of bytes the module hands to the phone: a package image, or one of the
// embedded agent blocks. For agent images the address is the load address in
// the phone's memory; for the secondary ROM image it is 0x4000. The bytes stay
// valid for the module's life.
struct ImageBuffer {
  const uint8_t* data = nullptr;
  uint32_t length = 0;
  uint32_t address = 0;
};

// NAND geometry: a raw block holds its pages one after another, each page's
// data bytes followed by its spare bytes.
struct NandGeometry {
  uint32_t pageSize = 0;
  uint32_t spareSize = 0;
  uint32_t blockDataSize = 0;
  uint32_t rawBlockSize = 0;

  uint32_t pagesPerBlock() const { return pageSize ? blockDataSize / pageSize : 0; }
};

}  // namespace hx
