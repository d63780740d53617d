#pragma once
// A shared, reference-counted, growable byte vector: copies share the bytes and
// the last owner frees them.
#include <cstdint>
#include <memory>
#include <vector>

namespace hx {

using ByteBuffer = std::shared_ptr<std::vector<uint8_t>>;

inline ByteBuffer makeByteBuffer(size_t size = 0, uint8_t fill = 0) {
  return std::make_shared<std::vector<uint8_t>>(size, fill);
}

}  // namespace hx
