// `hxflash inspect PACKAGE [--json]`: what the module will do with a package.
// It loads the package with the module's own reader and shows the geometry,
// the entry table with each entry's role, every image, the bootloader and ROM
// information records, each FS image and the download verdict. Both outputs
// are printed from one report of the package.
#include <fmt/format.h>

#include <array>
#include <nlohmann/json.hpp>
#include <optional>
#include <span>
#include <string>
#include <tuple>
#include <vector>

#include "command_line.h"
#include "commands.h"
#include "crc32.h"
#include "formats/fs_header.h"
#include "formats/fs_image_header.h"
#include "formats/little_endian.h"
#include "formats/page_split.h"
#include "formats/rom_info.h"
#include "package/package_image.h"
#include "package/package_layout.h"
#include "package/package_parse.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "package/package_verdict.h"
#include "download/download_sequence.h"
#include "download/result_texts.h"
#include "formats/bootloader_info.h"

namespace hxflash {

namespace {

using nlohmann::json;

// ---- the report -------------------------------------------------------------

struct EntryRow {
  size_t index = 0;  // 1-based, file order
  hx::PackageEntry entry;
  std::string role;
};

struct ImageRow {
  uint32_t type = 0;
  uint32_t entry = 0;  // 1-based
  int32_t volume = -1;
  uint32_t length = 0;
  std::string record;  // which module record it fills
  uint32_t address = 0;
  uint32_t crc32 = 0;
};

struct BootloaderInfoReport {
  int result = 0;
  uint32_t version = 0;
  uint32_t recordSize = 0;
  uint32_t headerWord = 0;
  uint32_t checksumSeed = 0;
  uint32_t word96 = 0;
};

struct RomArea {
  uint32_t start = 0;
  uint32_t length = 0;
};

struct RomInfoReport {
  int result = 0;
  uint32_t offset = 0;  // in the ROM image
  uint32_t version = 0;
  uint32_t recordSize = 0;
  std::string name;
  std::string secondName;
  uint16_t areaCount = 0;
  std::vector<RomArea> areas;
  uint32_t fsAreaStart = 0;
  uint32_t fsAreaLength = 0;
  std::string formatTag;
};

struct FsVolumeRow {
  uint32_t volume = 0;
  uint32_t start = 0;
  uint32_t length = 0;
};

struct FsHeaderReport {
  std::string version;
  bool written = false;  // only 5.2.0 images are written
  uint32_t infoAreaStart = 0;
  uint32_t infoAreaLength = 0;
  std::vector<FsVolumeRow> volumes;
};

struct FsImageReport {
  uint32_t index = 0;
  uint32_t address = 0;
  uint32_t length = 0;
  std::string problem;                  // malformed: why
  std::optional<hx::FsImageHeader> header;
  uint32_t firstMappedBlock = 0;
  std::optional<FsHeaderReport> fsHeader;  // none: no marked page in the info block
};

struct PackageReport {
  std::string package;
  std::optional<uint64_t> size;
  bool loaded = false;
  std::string loadFailure;
  std::optional<hx::NandGeometry> geometry;
  std::optional<std::vector<EntryRow>> entries;
  // Only for a package that loaded:
  uint32_t bootloaderSpan = 0;
  std::vector<ImageRow> images;
  BootloaderInfoReport bootloaderInfo;
  RomInfoReport romInfo;
  uint32_t fsImagesInPackage = 0;
  std::vector<FsImageReport> fsImages;
  hx::PackageVerdict verdict;
};


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
  for (uint32_t k = 0; k < hx::kFsImageSlots; ++k) {
    if (records.fsImages[k].data == data) return {fmt::format("FS image {}", k), records.fsImages[k].address};
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
  // The tag lies past a version-5 record; show the image's bytes there.
  const uint64_t tagAt = uint64_t{r.offset} + hx::kRomInfoFormatTagOffset;
  for (uint64_t i = tagAt; i < tagAt + hx::kFsFormatTag.size() && i < rom.size(); ++i) {
    r.formatTag.push_back(rom[i] >= 0x20 && rom[i] < 0x7F ? static_cast<char>(rom[i]) : '.');
  }
  return r;
}

FsImageReport fsImageReport(uint32_t k, const hx::ImageBuffer& record) {
  const std::span<const uint8_t> image(record.data, record.length);
  FsImageReport r;
  r.index = k;
  r.address = record.address;
  r.length = record.length;
  hx::FsImageHeader h;
  if (!hx::readFsImageFields(image, h, &r.problem)) return r;
  const auto fsHeader = hx::fsImageFsHeader(image, h);
  // An image of another version is skipped whatever its other fields say:
  // only one that is written must be whole, as the module judges it.
  hx::FsImageHeader whole;
  std::string wholeProblem;
  if (hx::parseFsImageHeader(image, whole, &wholeProblem)) {
    h = std::move(whole);
    r.firstMappedBlock = h.table.mappedBlocks().front().block;
  } else if (fsHeader && hx::isFsVersion520(*fsHeader)) {
    r.problem = wholeProblem;
  }
  r.header = std::move(h);
  if (!fsHeader) return r;
  const auto v = fsHeader->version();
  FsHeaderReport f;
  f.version = fmt::format("{}.{}.{}", v[0], v[1], v[2]);
  f.written = hx::isFsVersion520(*fsHeader);
  f.infoAreaStart = fsHeader->infoAreaStart();
  f.infoAreaLength = fsHeader->infoAreaLength();
  for (uint32_t i = 0; i < hx::kFsVolumeCount; ++i) {
    if (fsHeader->volumeLength(i) != 0)
      f.volumes.push_back(
          FsVolumeRow{.volume = i, .start = fsHeader->volumeStart(i), .length = fsHeader->volumeLength(i)});
  }
  r.fsHeader = std::move(f);
  return r;
}

PackageReport inspect(const std::string& path) {
  PackageReport report;
  report.package = asTyped(path);
  hx::PackageRecords records;
  report.loaded = hx::readPackageFileInto(path, records);
  std::string problem;
  auto source = hx::openPackageFile(path, problem);
  if (source) report.size = source->size();
  if (!report.loaded) {
    report.loadFailure = records.loadFailure;
    hx::PackageHeader header;
    hx::NandGeometry geometry;
    std::vector<hx::PackageEntry> entries;
    if (source && hx::readPackageLayout(*source, header, geometry, entries, problem)) {
      report.geometry = geometry;
      report.entries = entryRows(entries);
    }
  } else {
    report.geometry = records.contents->geometry;
    report.entries = entryRows(records.contents->entries);
    report.bootloaderSpan = records.contents->bootloaderSpan;
    report.images = imageRows(records);
    report.bootloaderInfo = bootloaderInfoReport(records);
    report.romInfo = romInfoReport(records);
    report.fsImagesInPackage = records.fsImagesInPackage;
    for (uint32_t k = 0; k < hx::kFsImageSlots; ++k) {
      if (records.fsImages[k].data) report.fsImages.push_back(fsImageReport(k, records.fsImages[k]));
    }
  }
  report.verdict = hx::judgePackage(records);
  return report;
}

// ---- JSON output ------------------------------------------------------------

json toJson(const hx::NandGeometry& g) {
  return {{"pageSize", g.pageSize}, {"spareSize", g.spareSize}, {"blockDataSize", g.blockDataSize},
          {"rawBlockSize", g.rawBlockSize}, {"pagesPerBlock", g.pagesPerBlock()}};
}

json toJson(const std::vector<EntryRow>& rows) {
  json list = json::array();
  for (const EntryRow& e : rows) {
    list.push_back({{"index", e.index}, {"firstBlock", e.entry.firstBlock}, {"blockCount", e.entry.blockCount},
                    {"type", e.entry.type}, {"role", e.role}});
  }
  return list;
}

json toJson(const std::vector<ImageRow>& rows) {
  json list = json::array();
  for (const ImageRow& i : rows) {
    json item = {{"type", i.type}, {"entry", i.entry}, {"length", i.length},
                 {"record", i.record}, {"address", i.address}, {"crc32", i.crc32}};
    if (i.volume >= 0) item["volume"] = i.volume;
    list.push_back(item);
  }
  return list;
}

json toJson(const BootloaderInfoReport& b) {
  json j = {{"result", b.result}};
  if (b.result != hx::kBootloaderInfoExtracted) return j;
  j["version"] = b.version;
  j["recordSize"] = b.recordSize;
  j["headerWord"] = b.headerWord;
  j["checksumSeed"] = b.checksumSeed;
  j["word96"] = b.word96;
  return j;
}

json toJson(const RomInfoReport& r) {
  json j = {{"result", r.result}};
  if (r.result != hx::kRomInfoExtracted) return j;
  json areas = json::array();
  for (const RomArea& a : r.areas) areas.push_back({{"start", a.start}, {"length", a.length}});
  j["offset"] = r.offset;
  j["version"] = r.version;
  j["recordSize"] = r.recordSize;
  j["name"] = r.name;
  j["secondName"] = r.secondName;
  j["areaCount"] = r.areaCount;
  j["areas"] = areas;
  j["fsAreaStart"] = r.fsAreaStart;
  j["fsAreaLength"] = r.fsAreaLength;
  j["formatTag"] = r.formatTag;
  return j;
}

json toJson(const FsImageReport& f) {
  json j = {{"index", f.index}, {"address", f.address}, {"length", f.length}};
  if (!f.header) {
    j["problem"] = f.problem;
    return j;
  }
  const hx::FsImageHeader& h = *f.header;
  j["header"] = {{"infoBlocksBefore", h.infoBlocksBefore}, {"regionCount", h.regionCount},
                 {"totalBlocks", h.totalBlocks}, {"mappedCount", h.mappedCount},
                 {"reservedCount", h.reservedCount}, {"eraseStartIndex", h.eraseStartIndex},
                 {"blocksPerRegion", h.blocksPerRegion}, {"countersEnd", h.countersEnd},
                 {"pageSize", h.pageSize}, {"blockKiB", h.blockKiB}};
  j["firstMappedBlock"] = f.firstMappedBlock;
  if (!f.problem.empty()) j["problem"] = f.problem;
  if (!f.fsHeader) {
    j["fsHeader"] = nullptr;
    return j;
  }
  json volumes = json::array();
  for (const FsVolumeRow& v : f.fsHeader->volumes)
    volumes.push_back({{"volume", v.volume}, {"start", v.start}, {"length", v.length}});
  j["fsHeader"] = {{"version", f.fsHeader->version}, {"written", f.fsHeader->written},
                   {"infoAreaStart", f.fsHeader->infoAreaStart}, {"infoAreaLength", f.fsHeader->infoAreaLength},
                   {"volumes", volumes}};
  return j;
}

json toJson(const PackageReport& r) {
  json doc = {{"package", r.package}, {"loaded", r.loaded}};
  if (r.size) doc["size"] = *r.size;
  if (!r.loaded) doc["loadFailure"] = r.loadFailure;
  if (r.geometry) doc["geometry"] = toJson(*r.geometry);
  if (r.entries) doc["entries"] = toJson(*r.entries);
  if (r.loaded) {
    doc["bootloaderSpan"] = r.bootloaderSpan;
    doc["images"] = toJson(r.images);
    doc["bootloaderInfo"] = toJson(r.bootloaderInfo);
    doc["romInfo"] = toJson(r.romInfo);
    doc["fsImagesInPackage"] = r.fsImagesInPackage;
    json fs = json::array();
    for (const FsImageReport& f : r.fsImages) fs.push_back(toJson(f));
    doc["fsImages"] = fs;
  }
  doc["verdict"] = {{"downloadable", r.verdict.downloadable}, {"reason", r.verdict.reason}};
  if (!r.verdict.downloadable)
    doc["verdict"]["result"] = {{"code", hx::kDownloadRefused}, {"text", hx::resultText(hx::kDownloadRefused)}};
  return doc;
}

// ---- human output -----------------------------------------------------------

std::string hex(uint32_t v) { return fmt::format("0x{:08X}", v); }

void printGeometry(const hx::NandGeometry& g) {
  fmt::print("Geometry    {} + {} byte pages, {} pages per block, block {} data / {} raw bytes\n", g.pageSize,
             g.spareSize, g.pagesPerBlock(), g.blockDataSize, g.rawBlockSize);
}

void printEntries(const std::vector<EntryRow>& rows) {
  fmt::print("\nEntry table\n  {:>3}  {:>10}  {:>10}  {:>4}  {}\n", "#", "first", "blocks", "type", "role");
  for (const EntryRow& e : rows) {
    fmt::print("  {:>3}  {:>10}  {:>10}  {:>4}  {}\n", e.index, e.entry.firstBlock, e.entry.blockCount, e.entry.type,
               e.role);
  }
}

void printImages(const std::vector<ImageRow>& rows) {
  fmt::print("\nImages\n  {:>4}  {:>5}  {:>6}  {:>10}  {:>10}  {:>10}  {}\n", "type", "entry", "volume", "length",
             "address", "crc32", "record");
  for (const ImageRow& i : rows) {
    const std::string volume = i.volume >= 0 ? std::to_string(i.volume) : "-";
    fmt::print("  {:>4}  {:>5}  {:>6}  {:>10}  {:>10}  {:>10}  {}\n", i.type, i.entry, volume, i.length,
               hex(i.address), hex(i.crc32), i.record);
  }
}

void printBootloaderInfo(const BootloaderInfoReport& b) {
  fmt::print("\nBootloader information  ");
  if (b.result != hx::kBootloaderInfoExtracted) {
    fmt::print("not found (result {})\n", b.result);
    return;
  }
  fmt::print("version {} ({} bytes), checksum seed {}, header word {}, word 96 {}\n", b.version, b.recordSize,
             hex(b.checksumSeed), hex(b.headerWord), hex(b.word96));
}

void printRomInfo(const RomInfoReport& r) {
  fmt::print("\nROM information  ");
  if (r.result != hx::kRomInfoExtracted) {
    fmt::print("not found (result {})\n", r.result);
    return;
  }
  fmt::print("version {} ({} bytes) at ROM offset {}\n", r.version, r.recordSize, hex(r.offset));
  fmt::print("  names       \"{}\", \"{}\"\n", r.name, r.secondName);
  fmt::print("  FS area     {} + {} bytes, format tag \"{}\"\n", hex(r.fsAreaStart), r.fsAreaLength, r.formatTag);
  fmt::print("  area table  {} entries\n", r.areaCount);
  for (size_t i = 0; i < r.areas.size(); ++i)
    fmt::print("    {:>2}  {}  {:>10} bytes\n", i, hex(r.areas[i].start), r.areas[i].length);
}

void printFsImages(const PackageReport& r) {
  fmt::print("\nFS images ({} in the package)\n", r.fsImagesInPackage);
  for (const FsImageReport& f : r.fsImages) {
    fmt::print("  FS image {}  address {}, {} bytes\n", f.index, hex(f.address), f.length);
    if (!f.header) {
      fmt::print("    malformed: {}\n", f.problem);
      continue;
    }
    const hx::FsImageHeader& h = *f.header;
    fmt::print("    header    {} mapped from block {}, {} reserved, {} regions, erase from {}, counters end {}, "
               "{} blocks before the info block\n",
               h.mappedCount, f.firstMappedBlock, h.reservedCount, h.regionCount, h.eraseStartIndex, h.countersEnd,
               h.infoBlocksBefore);
    if (!f.problem.empty()) fmt::print("    malformed: {}\n", f.problem);
    if (!f.fsHeader) {
      fmt::print("    FsHeader  none (no marked page in the info block)\n");
      continue;
    }
    const FsHeaderReport& fh = *f.fsHeader;
    fmt::print("    FsHeader  version {}{}, info area {} + {} bytes\n", fh.version,
               fh.written ? "" : " (not written: only 5.2.0 is)", hex(fh.infoAreaStart), fh.infoAreaLength);
    for (const FsVolumeRow& v : fh.volumes)
      fmt::print("      volume {}  {} + {} bytes\n", v.volume, hex(v.start), v.length);
  }
}

void printHuman(const PackageReport& r) {
  fmt::print("Package     {}", r.package);
  if (r.size) fmt::print(" ({} bytes)", *r.size);
  fmt::print("\n");
  if (r.geometry) printGeometry(*r.geometry);
  if (!r.loaded) fmt::print("Load        failed: {}\n", r.loadFailure);
  if (r.loaded) {
    fmt::print("Bootloader  span {} (bootloader {} bytes)\n", r.bootloaderSpan,
               r.bootloaderSpan - hx::kBootloaderTrailerSize);
  }
  if (r.entries) printEntries(*r.entries);
  if (r.loaded) {
    printImages(r.images);
    printBootloaderInfo(r.bootloaderInfo);
    printRomInfo(r.romInfo);
    printFsImages(r);
  }
  if (r.verdict.downloadable) {
    fmt::print("\nVerdict     downloadable\n");
  } else {
    fmt::print("\nVerdict     not downloadable: {}\n            (a download ends with {}: {})\n", r.verdict.reason,
               hx::kDownloadRefused, hx::resultText(hx::kDownloadRefused));
  }
}

}  // namespace

void registerInspectCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("inspect", "Show what the module will do with a firmware package");
  auto path = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  command->add_option("PACKAGE", *path, "the firmware package")->required();
  command->add_flag("--json", *asJson, "print one JSON document");
  command->footer("Exit status: 0 the package is downloadable, 1 the module would refuse it.");
  command->callback([path, asJson, &exitCode] {
    const PackageReport report = inspect(*path);
    if (*asJson) {
      fmt::print("{}\n", toJson(report).dump(2));
    } else {
      printHuman(report);
    }
    exitCode = report.verdict.downloadable ? 0 : 1;
  });
}

}  // namespace hxflash
