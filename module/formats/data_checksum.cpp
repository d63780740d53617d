#include "formats/data_checksum.h"

namespace hx {

uint16_t dataChecksum(std::span<const uint8_t> bytes) {
  uint16_t sum = 0;
  for (size_t i = 0; i + 1 < bytes.size(); i += 2) sum ^= static_cast<uint16_t>(bytes[i] | (bytes[i + 1] << 8));
  return sum;
}

}  // namespace hx
