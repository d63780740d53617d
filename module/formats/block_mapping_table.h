#pragma once
// Which physical block receives each FS data block, and which spare blocks may
// replace a block the phone reports as bad. A plain value type: the FS writer
// works on copies.
#include <cstdint>
#include <exception>
#include <optional>
#include <span>
#include <vector>

namespace hx {

struct BlockMapEntry {
  uint32_t region = 0;  // spare-allocation group (low 8 bits of the packed word)
  uint32_t block = 0;   // absolute NAND block index (upper 24 bits)
  uint32_t used = 0;    // 1 once handed out as a replacement
};

class BlockMappingTable {
 public:
  // No free reserved block of the requested region.
  class RunOutOfReservedBlocks : public std::exception {
   public:
    const char* what() const noexcept override;
  };

  // Clears both lists and decodes `mappedCount` + `reservedCount` packed
  // little-endian words from `words`. Returns false (and leaves both lists
  // empty) when `words` holds fewer bytes than that.
  bool loadFromWords(std::span<const uint8_t> words, uint32_t mappedCount, uint32_t reservedCount);

  // Logical index: mappedBlocks first, then reservedBlocks. An index past the
  // end of both lists throws std::out_of_range.
  uint32_t blockAt(uint32_t index) const;
  uint32_t regionAt(uint32_t index) const;
  void setBlockAt(uint32_t index, uint32_t block);

  // First free reserved block of `region`, front to back; unchanged table.
  // Throws RunOutOfReservedBlocks when none is left.
  uint32_t peekReserved(uint32_t region) const;
  // As peekReserved, and marks the block used: every reserved entry that
  // names it, whatever its region (a spare named twice is taken once).
  uint32_t takeReserved(uint32_t region);
  // Searches from the back; marks the block used as takeReserved does.
  uint32_t takeReservedFromEnd(uint32_t region);

  // The same without exceptions: nothing when no free reserved block of
  // `region` is left.
  std::optional<uint32_t> findReserved(uint32_t region) const;
  std::optional<uint32_t> claimReserved(uint32_t region);
  std::optional<uint32_t> claimReservedFromEnd(uint32_t region);

  // Marks every reserved entry of `block` used, so it is never handed out.
  void markReservedUsed(uint32_t block);

  const std::vector<BlockMapEntry>& mappedBlocks() const { return m_mapped; }
  const std::vector<BlockMapEntry>& reservedBlocks() const { return m_reserved; }
  uint32_t size() const { return static_cast<uint32_t>(m_mapped.size() + m_reserved.size()); }

 private:
  const BlockMapEntry& entryAt(uint32_t index) const;
  BlockMapEntry& entryAt(uint32_t index);
  std::vector<BlockMapEntry>::const_iterator firstFreeReserved(uint32_t region) const;

  std::vector<BlockMapEntry> m_mapped;
  std::vector<BlockMapEntry> m_reserved;
};

// Decodes one packed mapping word.
BlockMapEntry decodeMappingWord(uint32_t word);

}  // namespace hx
