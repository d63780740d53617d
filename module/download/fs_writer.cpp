#include "download/fs_writer.h"

#include <optional>
#include <set>
#include <span>
#include <string>
#include <vector>

#include "download/image_list.h"
#include "formats/block_mapping_table.h"
#include "formats/block_marks.h"
#include "formats/data_checksum.h"
#include "formats/fs_header.h"
#include "formats/fs_image_checks.h"
#include "formats/fs_image_header.h"
#include "formats/fs_info_block.h"
#include "formats/page_split.h"
#include "formats/rom_info.h"
#include "package/fs_image_admission.h"
#include "protocol/session_report.h"

namespace hx {
namespace {

constexpr uint32_t kNoOldInfoBlock = 0;  // the phone held no info block
constexpr uint32_t kMostProgrammedPagesSentAlone = 3;  // more go out as one write-block
constexpr uint32_t kRemapEntryMax = 0xFFFF;            // a remap entry is 16 bits

// The outcome of one step: 0 to go on, or the image's result code and why.
// A refusal comes before anything of the image is written; a failure after.
struct FsOutcome {
  int code = 0;
  std::string why;
  bool refused = false;
};
const FsOutcome kGoOn{};

FsOutcome refuse(int code, std::string why) { return {code, std::move(why), true}; }
FsOutcome fail(int code, std::string why) { return {code, std::move(why), false}; }
bool stops(const FsOutcome& outcome) { return outcome.code != 0; }

// Everything one FS image write works on; lives for the call.
struct FsWrite {
  NandAgent& agent;
  SessionReport& report;
  uint32_t fsAreaStart = 0;   // the package's FS area, formatted when the phone holds another version
  uint32_t fsAreaLength = 0;
  std::span<const uint8_t> image;
  FsImageHeader header;       // as parsed; its table is never changed
  NandGeometry geometry;
  PageSplit imageInfo;        // the image's own info block
  FsHeader imageFsHeader;
  uint8_t phoneRomInfo[kRomInfoRecordMax] = {};
  uint32_t base = 0;          // first FS block: the phone's FS area start / blockDataSize
  PageSplit chosenInfo;       // the info block that is finally written (the phone's or the image's)
  uint32_t oldInfoBlock = kNoOldInfoBlock;  // the phone's current info block, never written over
  BlockMappingTable table;    // the working table
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

// Byte address of `block`, when a 32-bit address can name it and `count` blocks from it.
std::optional<uint32_t> blockAddress(uint64_t block, uint64_t count, const NandGeometry& g) {
  const uint64_t end = (block + count) * g.blockDataSize;
  if (end > UINT32_MAX + uint64_t{1}) return std::nullopt;
  return static_cast<uint32_t>(block * g.blockDataSize);
}

// Steps 2 to 4 (the header fields, the info block and its FsHeader, and
// whether the image is written at all) are admitFsImage's, the decision the
// package verdict takes too; an image it lets through is taken from it here.
void takeImage(FsWrite& w, const ImageBuffer& image, FsImageAdmission& admission) {
  w.image = std::span<const uint8_t>(image.data, image.length);
  w.header = std::move(*admission.header);
  w.geometry = w.header.geometry;
  w.imageInfo = std::move(*admission.info);
  w.imageFsHeader = *admission.fsHeader;
}

// Step 4: an image of another version is not written.
void skipImage(const FsWrite& w) {
  w.report.progress(100);
  w.report.step(100, "Write FS Image Complete");
}

// Steps 5 and 6: the phone's RomInfo, and the image against its FS area:
// volumes inside it, mapped and reserved blocks above its first block, every
// region tag one with a counter, and every spare nameable by a remap entry
// whose region counter, one past it, still fits 16 bits.
FsOutcome checkPhoneFsArea(FsWrite& w) {
  if (!readPhoneRomInfo(w.agent, w.geometry.blockDataSize, w.phoneRomInfo))
    return refuse(kFsNoPhoneRomInfo, "the phone's ROM information was not found");
  if (!fsAreaFits(w.phoneRomInfo, w.imageFsHeader))
    return refuse(kFsDoesNotFit, "it does not fit the phone's FS area");
  w.base = romInfoFsAreaStart(w.phoneRomInfo) / w.geometry.blockDataSize;
  if (std::string problem = fsImageProblemForBase(w.header, w.base); !problem.empty())
    return refuse(kFsDoesNotFit, problem);
  for (const BlockMapEntry& spare : w.header.table.reservedBlocks())
    if (spare.block - w.base >= kRemapEntryMax)
      return refuse(kFsDoesNotFit, "reserved block " + std::to_string(spare.block) + " too far from the FS area start");
  return kGoOn;
}

// Step 7: reads the info area from its last block towards its first and
// takes the first good block marked as an info block that holds an FsHeader.
// A read-back that fails ends the search as a failure: taken for "not
// found", it would erase the phone's info block and its bad-block history.
FsOutcome findPhoneInfoBlock(const FsWrite& w, std::optional<PhoneInfoBlock>* found) {
  const NandGeometry& g = w.geometry;
  std::vector<uint8_t> raw(g.rawBlockSize);
  const uint64_t start = w.imageFsHeader.infoAreaStart();
  for (uint64_t end = start + w.imageFsHeader.infoAreaLength(); end >= start + g.blockDataSize;
       end -= g.blockDataSize) {
    const uint64_t addr = end - g.blockDataSize;
    const uint64_t block = addr / g.blockDataSize;
    if (w.agent.readBack(static_cast<uint32_t>(addr), g.blockDataSize, kReadBackPagesWithSpare, raw.data(),
                         raw.size()) != 0)
      return fail(kFsWriteFailed, "the read-back of info area block " + std::to_string(block) + " failed");
    if (isBadBlockMarked(raw, g.pageSize, g.spareSize) || !isInfoBlockMarked(raw, g.pageSize)) continue;
    std::optional<PageSplit> split = splitRawBlock(raw, g);
    if (!split) continue;
    if (std::optional<FsHeader> header = findFsHeader(*split, g)) {
      *found = PhoneInfoBlock{std::move(*split), *header, static_cast<uint32_t>(block)};
      return kGoOn;
    }
  }
  return kGoOn;
}

// Step 8's choice: the phone's info block, when it has the image's version
// and layout, is carried forward; of another version, or when the phone holds
// none, the image's own is used. Either way the old block is remembered.
FsOutcome chooseInfoBlock(FsWrite& w, const std::optional<PhoneInfoBlock>& phone) {
  w.chosenInfo = w.imageInfo;
  if (!phone) return kGoOn;
  w.oldInfoBlock = phone->block;
  if (!sameFsVersion(phone->header, w.imageFsHeader)) return kGoOn;
  if (!sameFsLayout(phone->header, w.imageFsHeader))
    return refuse(kFsDoesNotFit, "the phone's info block has this version but another layout");
  w.chosenInfo = phone->split;
  return kGoOn;
}

// The blocks the FS keeps as spares, merged into ranges of consecutive
// blocks, each addressed before any is formatted.
struct BlockRange {
  uint32_t start;
  uint32_t length;
};

FsOutcome reservedRanges(const FsWrite& w, std::vector<BlockRange>* ranges) {
  std::set<uint32_t> blocks;
  for (uint32_t i = 0; i < w.header.reservedCount; ++i)
    blocks.insert(w.header.table.blockAt(w.header.eraseStartIndex + i));
  for (auto it = blocks.begin(); it != blocks.end();) {
    const uint32_t first = *it;
    uint32_t last = first;
    while (++it != blocks.end() && *it == last + 1) ++last;
    const uint64_t count = uint64_t{last} - first + 1;
    const std::optional<uint32_t> start = blockAddress(first, count, w.geometry);
    if (!start) return refuse(kFsDoesNotFit, "reserved block " + std::to_string(last) + " lies past 4 GiB");
    ranges->push_back({*start, static_cast<uint32_t>(count * w.geometry.blockDataSize)});
  }
  return kGoOn;
}

// Steps 8 and 9, once every decision is made: a phone whose info block is of
// another version gets its whole FS area formatted; a phone without one gets
// the blocks its FS keeps as spares formatted.
FsOutcome clearForTheImage(FsWrite& w, const std::optional<PhoneInfoBlock>& phone) {
  if (phone && !sameFsVersion(phone->header, w.imageFsHeader)) {
    if (w.agent.formatRange(kFormatFsArea, w.fsAreaStart, w.fsAreaLength) != 0)
      return fail(kFsWriteFailed, "the format of the FS area failed");
    return kGoOn;
  }
  if (phone) return kGoOn;
  std::vector<BlockRange> ranges;
  if (FsOutcome o = reservedRanges(w, &ranges); stops(o)) return o;
  for (const BlockRange& range : ranges)
    if (w.agent.formatRange(kFormatReservedBlocks, range.start, range.length) != 0)
      return fail(kFsWriteFailed, "the format of the reserved blocks failed");
  return kGoOn;
}

// Step 10: the working table, and where data block 0's remap entry lies.
void prepareWorkingTable(FsWrite& w) {
  w.table = w.header.table;
  w.offset0 = w.table.blockAt(0) - w.base;
}

bool isPhoneInfoBlock(const FsWrite& w, uint32_t block) {
  return w.oldInfoBlock != kNoOldInfoBlock && block == w.oldInfoBlock;
}

// Step 11: the chosen info block's remap entries redirect the data blocks.
// A spare a data block is redirected to holds that block: it is marked used,
// so no other data block is ever sent there, whatever the region counters say.
FsOutcome applyRemaps(FsWrite& w) {
  const std::vector<uint8_t>& info = *w.chosenInfo.data;
  for (uint32_t i = 0; i < w.header.mappedCount; ++i) {
    const std::optional<uint16_t> entry = remapEntry(info, uint64_t{w.offset0} + i);
    if (!entry) return refuse(kFsDoesNotFit, "remap entries reach past the info block's page data");
    if (*entry == 0) continue;
    const uint32_t block = uint32_t{*entry} + w.base;
    w.table.setBlockAt(i, block);
    w.table.markReservedUsed(block);
  }
  return kGoOn;
}

// Step 12: the region counters say which spares the phone has used. A region
// whose spares are all used refuses the image before anything of it is
// written: the phone is worn.
FsOutcome skipUsedSpares(FsWrite& w) {
  const std::vector<uint8_t>& info = *w.chosenInfo.data;
  for (uint32_t region = 0; region < kRegionCounterCount; ++region) {
    const std::optional<uint16_t> counter = regionCounter(info, w.header.countersEnd, region);
    if (!counter) return refuse(kFsDoesNotFit, "region counters lie past the info block's page data");
    if (*counter == 0) continue;
    const uint64_t next = uint64_t{*counter} + w.base;
    for (;;) {
      const std::optional<uint32_t> spare = w.table.findReserved(region);
      if (!spare) return refuse(kFsSparesExhausted, "the phone has used every spare of region " + std::to_string(region));
      if (*spare >= next) break;
      w.table.claimReserved(region);
    }
  }
  return kGoOn;
}

// The phone's current info block is marked used in the working table: no
// data block and no new info block ever goes to it. On the "other version"
// path the format of the FS area erases that block before any data is
// written; it stays out of the table all the same, because the last step
// formats it again and would erase whatever had been written there. The new
// info block needs a region-0 spare besides it; without one the data blocks
// would be written under the phone's old info block.
FsOutcome protectPhoneInfoBlock(FsWrite& w) {
  if (w.oldInfoBlock != kNoOldInfoBlock) w.table.markReservedUsed(w.oldInfoBlock);
  if (!w.table.findReserved(0)) return refuse(kFsSparesExhausted, "no region-0 spare is left for the new info block");
  return kGoOn;
}

// Sends one data block: the whole block when more than three pages are
// programmed, otherwise just those pages. 0, 3041 or another failure.
int sendDataBlock(FsWrite& w, uint32_t block, const PageSplit& split) {
  if (isPhoneInfoBlock(w, block)) return kBlockBad;  // a block the phone's info block lives in is not free
  const BlockPages pages = pagesOf(split, w.geometry);
  const std::vector<uint32_t> programmed = programmedPages(*split.spare, w.geometry.spareSize, pages.pagesPerBlock);
  if (programmed.size() > kMostProgrammedPagesSentAlone) return w.agent.writeBlock(block, pages, dataChecksum(*split.data));
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

// Step 13: the data blocks in logical order; a block the phone reports bad
// goes to the next spare of its region, as often as spares remain.
FsOutcome writeFsDataBlocks(FsWrite& w) {
  const uint32_t count = w.header.mappedCount;
  for (uint32_t d = 0; d < count; ++d) {
    w.report.progress(percentOf(d, count));
    const std::optional<PageSplit> split = splitRawBlock(fsDataBlock(w.image, w.header, d), w.geometry);
    if (!split) return fail(kFsNoHeader, "data block " + std::to_string(d) + " lies past the end of the image");
    uint32_t block = w.table.blockAt(d);
    for (;;) {
      const int answer = sendDataBlock(w, block, *split);
      if (answer == 0) break;
      if (answer != kBlockBad) return fail(kFsWriteFailed, "the write of data block " + std::to_string(d) + " failed");
      const uint32_t region = w.table.regionAt(d);
      const std::optional<uint32_t> spare = w.table.claimReserved(region);
      if (!spare) return fail(kFsSparesExhausted, "no spare of region " + std::to_string(region) + " is left");
      block = *spare;
      w.table.setBlockAt(d, block);
      if (!recordRemap(w, d, region, block))
        return fail(kFsDoesNotFit, "the remap of data block " + std::to_string(d) + " lies past the info block");
    }
  }
  w.report.progress(100);
  return kGoOn;
}

// Step 14: the chosen info block goes to a fresh region-0 spare taken from the
// back; the block that held the phone's old info block is formatted once the
// new one is written (on the "other version" path for the second time: the
// format of the FS area erased it before the data blocks).
FsOutcome writeInfoBlock(FsWrite& w) {
  const BlockPages pages = pagesOf(w.chosenInfo, w.geometry);
  const uint16_t checksum = dataChecksum(*w.chosenInfo.data);
  for (;;) {
    const std::optional<uint32_t> block = w.table.claimReservedFromEnd(0);
    if (!block) return fail(kFsSparesExhausted, "no region-0 spare is left for the new info block");
    const int answer = w.agent.writeBlock(*block, pages, checksum);
    if (answer == kBlockBad) continue;
    if (answer != 0) return fail(kFsWriteFailed, "the write of the info block failed");
    break;
  }
  if (w.oldInfoBlock == kNoOldInfoBlock) return kGoOn;
  const std::optional<uint32_t> old = blockAddress(w.oldInfoBlock, 1, w.geometry);
  if (!old || w.agent.formatRange(kFormatOldInfoBlock, *old, w.geometry.blockDataSize) != 0)
    return fail(kFsWriteFailed, "the format of the old info block failed");
  return kGoOn;
}

FsOutcome runFsImageWrite(FsWrite& w, const ImageBuffer& image) {
  FsImageAdmission admission = admitFsImage(image);
  if (admission.fate == FsImageFate::kRefused) return refuse(kFsNoHeader, admission.reason);
  if (admission.fate == FsImageFate::kSkipped) {
    skipImage(w);
    return kGoOn;
  }
  takeImage(w, image, admission);
  if (FsOutcome o = checkPhoneFsArea(w); stops(o)) return o;
  std::optional<PhoneInfoBlock> phone;
  if (FsOutcome o = findPhoneInfoBlock(w, &phone); stops(o)) return o;
  if (FsOutcome o = chooseInfoBlock(w, phone); stops(o)) return o;
  prepareWorkingTable(w);
  if (FsOutcome o = applyRemaps(w); stops(o)) return o;
  if (FsOutcome o = skipUsedSpares(w); stops(o)) return o;
  if (FsOutcome o = protectPhoneInfoBlock(w); stops(o)) return o;
  if (FsOutcome o = clearForTheImage(w, phone); stops(o)) return o;
  if (FsOutcome o = writeFsDataBlocks(w); stops(o)) return o;
  return writeInfoBlock(w);
}

}  // namespace

int writeFsImage(const ImageBuffer& image, NandAgent& agent, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 SessionReport& report) {
  report.step(0, "Start Write FS Image");
  FsWrite w{.agent = agent, .report = report, .fsAreaStart = fsAreaStart, .fsAreaLength = fsAreaLength};
  const FsOutcome outcome = runFsImageWrite(w, image);
  if (stops(outcome)) {
    report.log("FS image %s (%d): %s\n", outcome.refused ? "refused" : "failed", outcome.code, outcome.why.c_str());
    report.noteWhy(outcome.why);
  }
  return outcome.code;
}

int writeFsImage(const ImageBuffer& image, Link& link, uint32_t fsAreaStart, uint32_t fsAreaLength,
                 SessionReport& report) {
  LinkNandAgent agent(link, report);
  return writeFsImage(image, agent, fsAreaStart, fsAreaLength, report);
}

}  // namespace hx
