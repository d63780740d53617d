#pragma once
// The remap table and region counters inside an FS info block's page data,
// read and updated in place. Every access is checked against the buffer.
#include <cstdint>
#include <optional>
#include <vector>

namespace hx {

// u16 remap entry `index` (bytes 2 index, 2 index + 1); nothing / false when
// it lies outside `data`.
std::optional<uint16_t> remapEntry(const std::vector<uint8_t>& data, uint64_t index);
bool setRemapEntry(std::vector<uint8_t>& data, uint64_t index, uint16_t value);

// u16 counter of region tag `region` (0..7) at countersEnd - 16 + 2 region;
// nothing / false when it lies outside `data`.
std::optional<uint16_t> regionCounter(const std::vector<uint8_t>& data, uint32_t countersEnd, uint32_t region);
bool setRegionCounter(std::vector<uint8_t>& data, uint32_t countersEnd, uint32_t region, uint16_t value);

}  // namespace hx
