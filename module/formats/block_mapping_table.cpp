#include "formats/block_mapping_table.h"

#include <algorithm>
#include <stdexcept>

#include "formats/little_endian.h"

namespace hx {

const char* BlockMappingTable::RunOutOfReservedBlocks::what() const noexcept {
  static const char* const text = "Run out of reserved blocks";
  return text;
}

BlockMapEntry decodeMappingWord(uint32_t word) { return BlockMapEntry{word & 0xFFu, word >> 8, 0}; }

bool BlockMappingTable::loadFromWords(std::span<const uint8_t> words, uint32_t mappedCount,
                                      uint32_t reservedCount) {
  m_mapped.clear();
  m_reserved.clear();
  const uint64_t needed = 4ull * (uint64_t{mappedCount} + reservedCount);
  if (needed > words.size()) return false;
  m_mapped.reserve(mappedCount);
  m_reserved.reserve(reservedCount);
  const uint8_t* p = words.data();
  for (uint32_t i = 0; i < mappedCount; ++i, p += 4) m_mapped.push_back(decodeMappingWord(loadLe32(p)));
  for (uint32_t i = 0; i < reservedCount; ++i, p += 4) m_reserved.push_back(decodeMappingWord(loadLe32(p)));
  return true;
}

const BlockMapEntry& BlockMappingTable::entryAt(uint32_t index) const {
  if (index < m_mapped.size()) return m_mapped[index];
  const size_t reservedIndex = index - m_mapped.size();
  if (reservedIndex < m_reserved.size()) return m_reserved[reservedIndex];
  throw std::out_of_range("block mapping index past the end of the table");
}

BlockMapEntry& BlockMappingTable::entryAt(uint32_t index) {
  return const_cast<BlockMapEntry&>(static_cast<const BlockMappingTable&>(*this).entryAt(index));
}

uint32_t BlockMappingTable::blockAt(uint32_t index) const { return entryAt(index).block; }
uint32_t BlockMappingTable::regionAt(uint32_t index) const { return entryAt(index).region; }
void BlockMappingTable::setBlockAt(uint32_t index, uint32_t block) { entryAt(index).block = block; }

namespace {

auto isFreeSpareOf(uint32_t region) {
  return [region](const BlockMapEntry& e) { return e.region == region && e.used == 0; };
}

}  // namespace

std::vector<BlockMapEntry>::const_iterator BlockMappingTable::firstFreeReserved(uint32_t region) const {
  return std::find_if(m_reserved.begin(), m_reserved.end(), isFreeSpareOf(region));
}

std::optional<uint32_t> BlockMappingTable::findReserved(uint32_t region) const {
  const auto it = firstFreeReserved(region);
  if (it == m_reserved.end()) return std::nullopt;
  return it->block;
}

// A claimed block is marked used in every entry that names it: a spare named
// twice is one block, handed out once.
std::optional<uint32_t> BlockMappingTable::claimReserved(uint32_t region) {
  const std::optional<uint32_t> block = findReserved(region);
  if (block) markReservedUsed(*block);
  return block;
}

std::optional<uint32_t> BlockMappingTable::claimReservedFromEnd(uint32_t region) {
  const auto it = std::find_if(m_reserved.rbegin(), m_reserved.rend(), isFreeSpareOf(region));
  if (it == m_reserved.rend()) return std::nullopt;
  const uint32_t block = it->block;
  markReservedUsed(block);
  return block;
}

void BlockMappingTable::markReservedUsed(uint32_t block) {
  for (BlockMapEntry& entry : m_reserved)
    if (entry.block == block) entry.used = 1;
}

namespace {

uint32_t orThrow(std::optional<uint32_t> block) {
  if (!block) throw BlockMappingTable::RunOutOfReservedBlocks();
  return *block;
}

}  // namespace

uint32_t BlockMappingTable::peekReserved(uint32_t region) const { return orThrow(findReserved(region)); }
uint32_t BlockMappingTable::takeReserved(uint32_t region) { return orThrow(claimReserved(region)); }
uint32_t BlockMappingTable::takeReservedFromEnd(uint32_t region) { return orThrow(claimReservedFromEnd(region)); }

}  // namespace hx
