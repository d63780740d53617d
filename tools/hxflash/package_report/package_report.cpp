#include "package_report/package_report.h"

#include <fmt/format.h>

#include <memory>
#include <span>
#include <tuple>

#include "host/crc32.h"
#include "formats/bootloader_info.h"
#include "formats/fs_header.h"
#include "formats/little_endian.h"
#include "formats/rom_info.h"
#include "package/fs_image_admission.h"
#include "package/package_image.h"
#include "package/package_records.h"
#include "package/package_source.h"

namespace hxflash {
namespace {

std::string entryRole(size_t index, uint8_t type) {
  switch (index) {
    case 0: return "bootloader area";
    case 1: return "ext bootloader";
    case 2: return "image table";
    default: break;
  }
  switch (type) {
    case hx::kEntryRomImage: return "ROM image";
    case hx::kEntrySecondaryRomImage: return "secondary ROM image";
    case hx::kEntryListedImage: return "listed image (not handed over)";
    case hx::kEntryFsImage: return "FS image";
    default: break;
  }
  const bool refused =
      type < hx::kEntryRomImage || (type > hx::kEntrySecondaryRomImage && type < hx::kEntryListedImage);
  return refused ? "not allowed here" : "skipped";
}

std::vector<EntryRow> entryRows(const std::vector<hx::PackageEntry>& entries) {
  std::vector<EntryRow> rows;
  for (size_t i = 0; i < entries.size(); ++i) {
    EntryRow& row = rows.emplace_back();
    row.index = i + 1;
    row.entry = entries[i];
    row.role = entryRole(i, entries[i].type);
  }
  return rows;
}

// Which record an image fills, and at which address.
std::pair<std::string, uint32_t> imageRecord(const hx::PackageRecords& records, const hx::PackageImage& image) {
  const uint8_t* data = image.bytes.get();
  if (records.bootloader.data == data) return {"bootloader", records.bootloader.address};
  if (records.extBootloader.data == data) return {"ext bootloader", records.extBootloader.address};
  if (records.romImage.data == data) return {"ROM image", records.romImage.address};
  if (records.secondaryRomImage.data == data) return {"secondary ROM image", records.secondaryRomImage.address};
  const std::span<const hx::ImageBuffer> fsImages = hx::heldFsImages(records);
  for (size_t k = 0; k < fsImages.size(); ++k) {
    if (fsImages[k].data == data) return {fmt::format("FS image {}", k), fsImages[k].address};
  }
  return {"none", 0};
}

std::vector<ImageRow> imageRows(const hx::PackageRecords& records) {
  std::vector<ImageRow> rows;
  for (const auto& image : records.contents->images) {
    ImageRow& row = rows.emplace_back();
    row.type = image.type;
    row.entry = image.entryIndex + 1;
    row.volume = image.volume;
    row.length = image.length;
    std::tie(row.record, row.address) = imageRecord(records, image);
    row.crc32 = crc32(std::span(image.bytes.get(), image.length));
  }
  return rows;
}

BootloaderInfoReport bootloaderInfoReport(const hx::PackageRecords& records) {
  uint8_t info[hx::kBootloaderInfoBufferSize] = {};
  BootloaderInfoReport r;
  r.result = hx::extractBootloaderInfo(records.bootloader, info);
  if (r.result != hx::kBootloaderInfoExtracted) return r;
  r.version = hx::bootloaderInfoVersion(info);
  r.recordSize = hx::bootloaderInfoSizeForVersion(r.version);
  r.headerWord = hx::loadLe32(info + hx::kBootloaderInfoHeaderWordOffset);
  r.checksumSeed = hx::loadLe32(info + hx::kBootloaderInfoSeedOffset);
  r.word96 = hx::loadLe32(info + hx::kBootloaderInfoExtraWordOffset);
  return r;
}

std::string textAt(const uint8_t* record, uint32_t offset, uint32_t end) {
  std::string text;
  for (uint32_t i = offset; i < end && record[i] != 0; ++i) text.push_back(static_cast<char>(record[i]));
  return text;
}

// The format tag lies past a version-5 record: the image's bytes there.
std::string formatTagAt(std::span<const uint8_t> rom, uint32_t recordOffset) {
  std::string tag;
  const uint64_t tagAt = uint64_t{recordOffset} + hx::kRomInfoFormatTagOffset;
  for (uint64_t i = tagAt; i < tagAt + hx::kFsFormatTag.size() && i < rom.size(); ++i) {
    tag.push_back(rom[i] >= 0x20 && rom[i] < 0x7F ? static_cast<char>(rom[i]) : '.');
  }
  return tag;
}

RomInfoReport romInfoReport(const hx::PackageRecords& records) {
  uint8_t info[hx::kRomInfoRecordMax] = {};
  RomInfoReport r;
  r.result = hx::extractRomInfo(records.romImage, info);
  if (r.result != hx::kRomInfoExtracted) return r;
  const std::span<const uint8_t> rom(records.romImage.data, records.romImage.length);
  r.offset = *hx::findRomInfoMarker(rom);
  r.version = hx::romInfoVersion(std::span<const uint8_t>(info, sizeof info));
  r.recordSize = hx::romInfoSizeForVersion(r.version);
  r.name = textAt(info, hx::kRomInfoNameOffset, hx::kRomInfoSecondNameOffset);
  r.secondName = textAt(info, hx::kRomInfoSecondNameOffset, hx::kRomInfoAreaCountOffset);
  r.areaCount = hx::romInfoAreaCount(info);
  for (uint32_t i = 0; i < r.areaCount; ++i) {
    const auto area = hx::romInfoArea(info, i);
    if (!area) break;
    r.areas.push_back(RomArea{.start = area->start, .length = area->length});
  }
  r.fsAreaStart = hx::romInfoFsAreaStart(info);
  r.fsAreaLength = hx::romInfoFsAreaLength(info);
  r.formatTag = formatTagAt(rom, r.offset);
  return r;
}

FsHeaderReport fsHeaderReport(const hx::FsHeader& fsHeader, bool written) {
  const auto v = fsHeader.version();
  FsHeaderReport f;
  f.version = fmt::format("{}.{}.{}", v[0], v[1], v[2]);
  f.written = written;
  f.infoAreaStart = fsHeader.infoAreaStart();
  f.infoAreaLength = fsHeader.infoAreaLength();
  for (uint32_t i = 0; i < hx::kFsVolumeCount; ++i) {
    if (fsHeader.volumeLength(i) != 0)
      f.volumes.push_back(
          FsVolumeRow{.volume = i, .start = fsHeader.volumeStart(i), .length = fsHeader.volumeLength(i)});
  }
  return f;
}

// The module refuses an image for its header when the header cannot be read,
// or when an image it would write does not fit the header's shape; those are
// the problems the report shows beside the image.
bool refusedForItsHeader(const hx::FsImageAdmission& admission) {
  return admission.fault == hx::FsImageFault::kNoBytes || admission.fault == hx::FsImageFault::kUnreadable ||
         admission.fault == hx::FsImageFault::kMalformed;
}

FsImageReport fsImageReport(uint32_t k, const hx::ImageBuffer& record) {
  FsImageReport r{.index = k, .address = record.address, .length = record.length};
  hx::FsImageAdmission admission = hx::admitFsImage(record);
  if (refusedForItsHeader(admission)) r.problem = admission.reason;
  if (!admission.header) return r;
  // The header is shown whole, mapping table included, whenever its shape
  // fits the image, even for an image the module skips.
  hx::FsImageHeader whole;
  if (hx::parseFsImageHeader(std::span(record.data, record.length), whole)) {
    r.firstMappedBlock = whole.table.mappedBlocks().front().block;
    r.header = std::move(whole);
  } else {
    r.header = std::move(admission.header);
  }
  if (admission.fsHeader) {
    r.fsHeader = fsHeaderReport(*admission.fsHeader, admission.fate != hx::FsImageFate::kSkipped);
  }
  return r;
}

void reportContents(const hx::PackageRecords& records, PackageReport& report) {
  report.geometry = records.contents->geometry;
  report.entries = entryRows(records.contents->entries);
  report.bootloaderSpan = records.contents->bootloaderSpan;
  report.images = imageRows(records);
  report.bootloaderInfo = bootloaderInfoReport(records);
  report.romInfo = romInfoReport(records);
  report.fsImagesInPackage = records.fsImagesInPackage;
  const std::span<const hx::ImageBuffer> fsImages = hx::heldFsImages(records);
  for (uint32_t k = 0; k < fsImages.size(); ++k) report.fsImages.push_back(fsImageReport(k, fsImages[k]));
}

// A package that did not load: its geometry and entry table, when they can be read.
void reportLayout(hx::PackageSource& source, PackageReport& report) {
  hx::PackageHeader header;
  hx::NandGeometry geometry;
  std::vector<hx::PackageEntry> entries;
  std::string problem;
  if (!hx::readPackageLayout(source, header, geometry, entries, problem)) return;
  report.geometry = geometry;
  report.entries = entryRows(entries);
}

}  // namespace

PackageReport reportPackage(const std::string& path, const std::string& name) {
  PackageReport report;
  report.package = name;
  hx::PackageRecords records;
  std::string problem;
  const std::unique_ptr<hx::PackageSource> source = hx::openPackageFile(path, problem);
  if (source) {
    report.size = source->size();
    report.loaded = hx::readPackageInto(*source, records);
  } else {
    records.loadFailure = problem;
  }
  if (report.loaded) {
    reportContents(records, report);
  } else {
    report.loadFailure = records.loadFailure;
    if (source) reportLayout(*source, report);
  }
  report.verdict = hx::judgePackage(records);
  return report;
}

}  // namespace hxflash
