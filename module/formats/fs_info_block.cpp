#include "formats/fs_info_block.h"

#include "formats/fs_image_header.h"
#include "formats/little_endian.h"

namespace hx {

namespace {

std::optional<uint64_t> counterOffset(const std::vector<uint8_t>& data, uint32_t countersEnd, uint32_t region) {
  if (region >= kRegionCounterCount || countersEnd < 2 * kRegionCounterCount) return std::nullopt;
  const uint64_t offset = uint64_t{countersEnd} - 2 * kRegionCounterCount + 2 * region;
  if (offset + 2 > data.size()) return std::nullopt;
  return offset;
}

}  // namespace

std::optional<uint16_t> remapEntry(const std::vector<uint8_t>& data, uint64_t index) {
  if (index >= data.size() / 2) return std::nullopt;
  return loadLe16(data.data() + 2 * index);
}

bool setRemapEntry(std::vector<uint8_t>& data, uint64_t index, uint16_t value) {
  if (index >= data.size() / 2) return false;
  storeLe16(data.data() + 2 * index, value);
  return true;
}

std::optional<uint16_t> regionCounter(const std::vector<uint8_t>& data, uint32_t countersEnd, uint32_t region) {
  const auto offset = counterOffset(data, countersEnd, region);
  if (!offset) return std::nullopt;
  return loadLe16(data.data() + *offset);
}

bool setRegionCounter(std::vector<uint8_t>& data, uint32_t countersEnd, uint32_t region, uint16_t value) {
  const auto offset = counterOffset(data, countersEnd, region);
  if (!offset) return false;
  storeLe16(data.data() + *offset, value);
  return true;
}

}  // namespace hx
