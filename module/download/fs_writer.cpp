#include "download/fs_writer.h"

#include <algorithm>
#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "formats/block_mapping_table.h"
#include "formats/block_marks.h"
#include "formats/data_checksum.h"
#include "formats/fs_header.h"
#include "formats/fs_image_checks.h"
#include "formats/fs_image_header.h"
#include "formats/fs_info_block.h"
#include "download/image_list.h"
#include "formats/page_split.h"
#include "formats/rom_info.h"
#include "platform/log.h"
#include "protocol/engine_events.h"

namespace hx {
namespace {

constexpr uint32_t kNoOldInfoBlock = 0;  // the phone held no info block

// Everything one FS image write works on; lives for the call.
struct FsWrite {
  NandAgent& agent;
  unsigned key;
  std::span<const uint8_t> image;
  FsImageHeader header;       // as parsed; its table is never changed
  NandGeometry geometry;
  PageSplit chosenInfo;       // the info block that is finally written (the phone's or the image's)
  uint32_t oldInfoBlock = kNoOldInfoBlock;  // the phone's current info block, 0 = none
  BlockMappingTable table;    // the working table
  uint32_t base = 0;          // first FS block: the phone's FS area start / blockDataSize
  uint32_t offset0 = 0;       // remap index of data block 0
};

// The phone's current info block, found in the image's info area.
struct PhoneInfoBlock {
  PageSplit split;
  FsHeader header;
  uint32_t block;
};

BlockPages pagesOf(const PageSplit& split, const NandGeometry& g) {
  return {g.pageSize, g.spareSize, g.pagesPerBlock(), split.data->data(), split.spare->data()};
}

// Byte address of `block`, when a 32-bit address can name it.
std::optional<uint32_t> blockAddress(uint64_t block, uint64_t count, const NandGeometry& g) {
  const uint64_t end = (block + count) * g.blockDataSize;
  if (end > UINT32_MAX + uint64_t{1}) return std::nullopt;
  return static_cast<uint32_t>(block * g.blockDataSize);
}

int refuseImage(const char* result, const std::string& why, int code) {
  logMessage("FS image refused (%s): %s\n", result, why.c_str());
  return code;
}

// Checks of the image against the phone's first FS block, before anything is
// written: mapped and reserved blocks above it, remap entries inside the info
// block, every region tag one with a counter, and every spare nameable by a
// 16-bit remap entry.
std::string problemForBase(const FsImageHeader& header, uint32_t base) {
  std::string problem = fsImageProblemForBase(header, base);
  if (!problem.empty()) return problem;
  for (const BlockMapEntry& spare : header.table.reservedBlocks())
    if (spare.block - base > 0xFFFF) return "reserved block " + std::to_string(spare.block) + " too far from the FS area start";
  return {};
}

// Reads the info area from its last block towards its first and takes the
// first good block marked as an info block that holds an FsHeader.
std::optional<PhoneInfoBlock> findPhoneInfoBlock(NandAgent& agent, const NandGeometry& g, uint32_t areaStart,
                                                 uint32_t areaLength) {
  std::vector<uint8_t> raw(g.rawBlockSize);
  const uint64_t start = areaStart;
  for (uint64_t end = start + areaLength; end >= start + g.blockDataSize; end -= g.blockDataSize) {
    const uint64_t addr = end - g.blockDataSize;
    if (addr > UINT32_MAX) continue;
    if (agent.readBack(static_cast<uint32_t>(addr), g.blockDataSize, kReadBackPagesWithSpare, raw.data(), raw.size()) !=
        0)
      return std::nullopt;
    if (isBadBlockMarked(raw, g.pageSize, g.spareSize) || !isInfoBlockMarked(raw, g.pageSize)) continue;
    std::optional<PageSplit> split = splitRawBlock(raw, g);
    if (!split) continue;
    if (std::optional<FsHeader> header = findFsHeader(*split, g))
      return PhoneInfoBlock{std::move(*split), *header, static_cast<uint32_t>(addr / g.blockDataSize)};
  }
  return std::nullopt;
}

// Formats the blocks a fresh phone's FS keeps as spares, merged into ranges
// of consecutive blocks.
int eraseReservedBlocks(FsWrite& w) {
  const BlockMappingTable fresh = w.header.table;
  std::set<uint32_t> blocks;
  for (uint32_t i = 0; i < w.header.reservedCount; ++i) blocks.insert(fresh.blockAt(w.header.eraseStartIndex + i));
  for (auto it = blocks.begin(); it != blocks.end();) {
    const uint32_t first = *it;
    uint32_t last = first;
    while (++it != blocks.end() && *it == last + 1) ++last;
    const std::optional<uint32_t> start = blockAddress(first, uint64_t{last} - first + 1, w.geometry);
    if (!start) return kFsWriteFailed;
    if (w.agent.formatRange(1, 1, 0, *start, (last - first + 1) * w.geometry.blockDataSize) != 0)
      return kFsWriteFailed;
  }
  return 0;
}

// A spare of `region` from the front; never the phone's current info block.
uint32_t takeSpare(FsWrite& w, uint32_t region) {
  uint32_t block = w.table.takeReserved(region);
  while (w.oldInfoBlock != kNoOldInfoBlock && block == w.oldInfoBlock) block = w.table.takeReserved(region);
  return block;
}

// Applies the chosen info block's remap entries and skips the spares its
// region counters say the phone has used. A region whose spares the phone has
// all used refuses the image here, before any data block is written: the
// phone is worn.
int applyPhoneHistory(FsWrite& w) {
  const std::vector<uint8_t>& info = *w.chosenInfo.data;
  for (uint32_t i = 0; i < w.header.mappedCount; ++i) {
    const std::optional<uint16_t> entry = remapEntry(info, uint64_t{w.offset0} + i);
    if (!entry) return kFsDoesNotFit;
    if (*entry != 0) w.table.setBlockAt(i, uint32_t{*entry} + w.base);
  }
  for (uint32_t region = 0; region < kRegionCounterCount; ++region) {
    const std::optional<uint16_t> counter = regionCounter(info, w.header.countersEnd, region);
    if (!counter) return kFsDoesNotFit;
    if (*counter == 0) continue;
    const uint64_t next = uint64_t{*counter} + w.base;
    try {
      while (w.table.peekReserved(region) < next) w.table.takeReserved(region);
    } catch (...) {
      return refuseImage("3051", "the phone has used every spare of region " + std::to_string(region),
                         kFsSparesExhausted);
    }
  }
  return 0;
}

// The new info block goes to a free region-0 spare other than the phone's
// current info block; without one, the data blocks must not be written under
// the phone's old info block.
int checkSpareForInfoBlock(const FsWrite& w) {
  for (const BlockMapEntry& spare : w.table.reservedBlocks())
    if (spare.region == 0 && spare.used == 0 && spare.block != w.oldInfoBlock) return 0;
  return refuseImage("3051", "no region-0 spare is left for the new info block", kFsSparesExhausted);
}

// Sends one data block: the whole block when more than three pages are
// programmed, otherwise just those pages. 0, 3041 or another failure.
int sendDataBlock(FsWrite& w, uint32_t block, const PageSplit& split) {
  if (w.oldInfoBlock != kNoOldInfoBlock && block == w.oldInfoBlock) return kBlockBad;  // never over the phone's info block
  const BlockPages pages = pagesOf(split, w.geometry);
  const std::vector<uint32_t> programmed = programmedPages(*split.spare, w.geometry.spareSize, pages.pagesPerBlock);
  if (programmed.size() > 3) return w.agent.writeBlock(block, pages, dataChecksum(*split.data));
  return w.agent.writePages(block, programmed.data(), static_cast<uint32_t>(programmed.size()), pages);
}

// Records that data block `d` now lives in `spare`: its remap entry names that
// spare, and its region's counter moves to one past it (never backwards).
bool recordRemap(FsWrite& w, uint32_t d, uint32_t region, uint32_t spare) {
  std::vector<uint8_t>& info = *w.chosenInfo.data;
  const uint16_t relative = static_cast<uint16_t>(spare - w.base);
  const std::optional<uint16_t> counter = regionCounter(info, w.header.countersEnd, region);
  if (!counter || !setRemapEntry(info, uint64_t{w.offset0} + d, relative)) return false;
  const uint16_t next = static_cast<uint16_t>(relative + 1);
  if (next > *counter) setRegionCounter(info, w.header.countersEnd, region, next);
  return true;
}

int writeFsDataBlocks(FsWrite& w) {
  const uint32_t count = w.header.mappedCount;
  for (uint32_t d = 0; d < count; ++d) {
    reportEvent(w.key, kEventProgress, percentOf(d, count));
    const std::optional<PageSplit> split = splitRawBlock(fsDataBlock(w.image, w.header, d), w.geometry);
    if (!split) return kFsNoHeader;
    uint32_t block = w.table.blockAt(d);
    for (;;) {
      const int answer = sendDataBlock(w, block, *split);
      if (answer == 0) break;
      if (answer != kBlockBad) return kFsWriteFailed;
      const uint32_t region = w.table.regionAt(d);
      try {
        block = takeSpare(w, region);
      } catch (...) {
        return kFsSparesExhausted;
      }
      w.table.setBlockAt(d, block);
      if (!recordRemap(w, d, region, block)) return kFsDoesNotFit;
    }
  }
  reportEvent(w.key, kEventProgress, 100);
  return 0;
}

// Writes the chosen info block into a fresh spare of region 0 taken from the
// back, then formats the phone's old info block.
int writeInfoBlock(FsWrite& w) {
  const BlockPages pages = pagesOf(w.chosenInfo, w.geometry);
  const uint16_t checksum = dataChecksum(*w.chosenInfo.data);
  for (;;) {
    uint32_t block = 0;
    try {
      block = w.table.takeReservedFromEnd(0);
      while (w.oldInfoBlock != kNoOldInfoBlock && block == w.oldInfoBlock) block = w.table.takeReservedFromEnd(0);
    } catch (...) {
      return kFsSparesExhausted;
    }
    const int answer = w.agent.writeBlock(block, pages, checksum);
    if (answer == kBlockBad) continue;
    if (answer != 0) return kFsWriteFailed;
    if (w.oldInfoBlock == kNoOldInfoBlock) return 0;
    const std::optional<uint32_t> old = blockAddress(w.oldInfoBlock, 1, w.geometry);
    if (!old || w.agent.formatRange(1, 0, 0, *old, w.geometry.blockDataSize) != 0) return kFsWriteFailed;
    return 0;
  }
}

// Chooses the info block to carry forward and prepares the phone for the data
// blocks: the phone's own (same version and layout), or the image's after the
// FS area (other version) or the reserved blocks (no info block) are formatted.
int choosePhoneInfoBlock(FsWrite& w, const FsHeader& imageHeader, const PageSplit& imageInfo, uint32_t fsAreaStart,
                         uint32_t fsAreaLength) {
  std::optional<PhoneInfoBlock> phone =
      findPhoneInfoBlock(w.agent, w.geometry, imageHeader.infoAreaStart(), imageHeader.infoAreaLength());
  if (!phone) {
    w.chosenInfo = {makeByteBuffer(), makeByteBuffer()};
    *w.chosenInfo.data = *imageInfo.data;
    *w.chosenInfo.spare = *imageInfo.spare;
    return eraseReservedBlocks(w);
  }
  w.oldInfoBlock = phone->block;
  if (sameFsVersion(phone->header, imageHeader)) {
    if (!sameFsLayout(phone->header, imageHeader)) return kFsDoesNotFit;
    w.chosenInfo = phone->split;
    return 0;
  }
  w.chosenInfo = {makeByteBuffer(), makeByteBuffer()};
  *w.chosenInfo.data = *imageInfo.data;
  *w.chosenInfo.spare = *imageInfo.spare;
  return w.agent.formatRange(1, 0, 1, fsAreaStart, fsAreaLength) == 0 ? 0 : kFsWriteFailed;
}

int writeParsedFsImage(FsWrite& w, uint32_t fsAreaStart, uint32_t fsAreaLength) {
  const std::optional<PageSplit> imageInfo = splitRawBlock(fsInfoBlock(w.image, w.header), w.geometry);
  const std::optional<FsHeader> imageHeader = imageInfo ? findFsHeader(*imageInfo, w.geometry) : std::nullopt;
  if (!imageHeader) return refuseImage("4056", "its info block holds no FsHeader", kFsNoHeader);

  if (!isFsVersion520(*imageHeader)) {
    reportEvent(w.key, kEventProgress, 100);
    reportEvent(w.key, kEventStep, 100, "Write FS Image Complete");
    return 0;
  }
  // Only an image that is written has to be whole.
  if (std::string problem; !parseFsImageHeader(w.image, w.header, &problem))
    return refuseImage("4056", problem, kFsNoHeader);

  uint8_t phoneRomInfo[kRomInfoRecordMax] = {};
  if (!readPhoneRomInfo(w.agent, w.geometry.blockDataSize, phoneRomInfo)) return kFsNoPhoneRomInfo;
  if (!fsAreaFits(phoneRomInfo, *imageHeader))
    return refuseImage("4054", "it does not fit the phone's FS area", kFsDoesNotFit);
  w.base = romInfoFsAreaStart(phoneRomInfo) / w.geometry.blockDataSize;
  if (const std::string problem = problemForBase(w.header, w.base); !problem.empty())
    return refuseImage("4054", problem, kFsDoesNotFit);

  if (const int rc = choosePhoneInfoBlock(w, *imageHeader, *imageInfo, fsAreaStart, fsAreaLength); rc != 0) return rc;

  w.table = w.header.table;
  w.offset0 = w.table.blockAt(0) - w.base;
  if (const int rc = applyPhoneHistory(w); rc != 0) return rc;
  if (const int rc = checkSpareForInfoBlock(w); rc != 0) return rc;
  if (const int rc = writeFsDataBlocks(w); rc != 0) return rc;
  return writeInfoBlock(w);
}

}  // namespace

int writeFsImage(const ImageBuffer& image, NandAgent& agent, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 unsigned eventKey) {
  reportEvent(eventKey, kEventStep, 0, "Start Write FS Image");
  FsWrite w{agent, eventKey, {}, {}, {}, {}, kNoOldInfoBlock, {}, 0, 0};
  if (image.data == nullptr) return refuseImage("4056", "no image bytes", kFsNoHeader);
  w.image = std::span<const uint8_t>(image.data, image.length);
  std::string problem;
  if (!readFsImageFields(w.image, w.header, &problem)) return refuseImage("4056", problem, kFsNoHeader);
  w.geometry = w.header.geometry;
  return writeParsedFsImage(w, fsAreaStart, fsAreaLength);
}

int writeFsImage(const ImageBuffer& image, Link& link, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 unsigned eventKey) {
  LinkNandAgent agent(link);
  return writeFsImage(image, agent, fsAreaStart, fsAreaLength, eventKey);
}

}  // namespace hx
