#pragma once
// The header at the start of an FS image: counts, NAND geometry and the packed
// mapping words, parsed and checked against the image's length.
#include <cstdint>
#include <span>
#include <string>

#include "formats/block_mapping_table.h"
#include "formats/fs_header.h"
#include "formats/image_buffer.h"

namespace hx {

inline constexpr uint32_t kFsImageHeaderSize = 48;  // the mapping words follow

// Byte offsets of the header fields.
inline constexpr uint32_t kFsInfoBlocksBeforeOffset = 0;
inline constexpr uint32_t kFsRegionCountOffset = 4;
inline constexpr uint32_t kFsTotalBlocksOffset = 8;
inline constexpr uint32_t kFsMappedCountOffset = 12;
inline constexpr uint32_t kFsReservedCountOffset = 16;
inline constexpr uint32_t kFsEraseStartIndexOffset = 20;
inline constexpr uint32_t kFsBlocksPerRegionOffset = 24;
inline constexpr uint32_t kFsCountersEndOffset = 28;
inline constexpr uint32_t kFsPageSizeOffset = 32;
inline constexpr uint32_t kFsBlockKiBOffset = 34;

inline constexpr uint32_t kRegionCounterCount = 8;  // u16 counters ending at countersEnd

struct FsImageHeader {
  uint32_t infoBlocksBefore = 0;  // raw blocks before the FS info block
  uint32_t regionCount = 0;
  uint32_t totalBlocks = 0;
  uint32_t mappedCount = 0;       // FS data blocks
  uint32_t reservedCount = 0;     // spare blocks
  uint32_t eraseStartIndex = 0;   // logical index of the first block formatted on a fresh phone
  uint32_t blocksPerRegion = 0;
  uint32_t countersEnd = 0;       // just past the eight region counters in the info block's data
  uint16_t pageSize = 0;
  uint16_t blockKiB = 0;
  NandGeometry geometry;          // derived from pageSize and blockKiB
  BlockMappingTable table;        // loaded from the mapping words
};

// The geometry an FS image header declares: 16 spare bytes for 512-byte
// pages, 64 for 2048-byte pages, otherwise as many as the page size.
NandGeometry fsImageGeometry(uint16_t pageSize, uint16_t blockKiB);

// Reads the header fields of `image` and derives its geometry, checking only
// what finding the image's FsHeader needs: the 48 header bytes, pages of at
// least 512 bytes (the FsHeader is the last 512 bytes of a page's data), a
// whole page per block, and the info block inside the image. Refuses (false,
// with the reason in `problem` when given) otherwise. The mapping table is
// not loaded: an image of another FS version is skipped whatever its other
// fields say.
bool readFsImageFields(std::span<const uint8_t> image, FsImageHeader& header, std::string* problem = nullptr);

// readFsImageFields, then the checks an image that is written must pass, and
// loads its mapping table. Refuses an image that is too short for its mapping
// words or its data blocks; no data blocks; an erase range past the mapping
// table; or region counters outside the info block's page data. What it
// accepts can be walked without further checks.
bool parseFsImageHeader(std::span<const uint8_t> image, FsImageHeader& header, std::string* problem = nullptr);

// The raw FS info block of an image that readFsImageFields accepted, and raw
// FS data block `index` (< mappedCount) of one that parseFsImageHeader accepted.
std::span<const uint8_t> fsInfoBlock(std::span<const uint8_t> image, const FsImageHeader& header);
std::span<const uint8_t> fsDataBlock(std::span<const uint8_t> image, const FsImageHeader& header, uint32_t index);

}  // namespace hx
