// `hxflash inspect PACKAGE [--json]`: what the module will do with a package.
// It loads the package with the module's own reader and shows the geometry,
// the entry table with each entry's role, every image, the bootloader and ROM
// information records, each FS image and the download verdict.
#include <fmt/format.h>

#include <array>
#include <nlohmann/json.hpp>
#include <span>
#include <string>

#include "commands.h"
#include "formats/fs_header.h"
#include "formats/fs_image_header.h"
#include "formats/little_endian.h"
#include "formats/page_split.h"
#include "formats/rom_info.h"
#include "package/package_image.h"
#include "package/package_layout.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "package/package_verdict.h"
#include "formats/bootloader_info.h"

namespace hxflash {

namespace {

using nlohmann::json;

// CRC-32 (IEEE 802.3), as `crc32` and zlib compute it.
uint32_t crc32(std::span<const uint8_t> bytes) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (uint8_t b : bytes) crc = table[(crc ^ b) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

std::string hex(uint32_t v) { return fmt::format("0x{:08X}", v); }

std::string entryRole(size_t index, uint8_t type) {
  switch (index) {
    case 0: return "bootloader area";
    case 1: return "ext bootloader";
    case 2: return "image table";
    default: break;
  }
  switch (type) {
    case 4: return "ROM image";
    case 5: return "secondary ROM image";
    case 8: return "listed image (not handed over)";
    case 10: return "FS image";
    case 0: case 1: case 2: case 3: case 6: case 7: return "not allowed here";
    default: return "skipped";
  }
}

json geometryJson(const hx::NandGeometry& g) {
  return {{"pageSize", g.pageSize}, {"spareSize", g.spareSize}, {"blockDataSize", g.blockDataSize},
          {"rawBlockSize", g.rawBlockSize}, {"pagesPerBlock", g.pagesPerBlock()}};
}

json entriesJson(const std::vector<hx::PackageEntry>& entries) {
  json list = json::array();
  for (size_t i = 0; i < entries.size(); ++i) {
    list.push_back({{"index", i + 1}, {"firstBlock", entries[i].firstBlock}, {"blockCount", entries[i].blockCount},
                    {"type", entries[i].type}, {"role", entryRole(i, entries[i].type)}});
  }
  return list;
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

json imagesJson(const hx::PackageRecords& records) {
  json list = json::array();
  for (const auto& image : records.contents->images) {
    const auto [record, address] = imageRecord(records, image);
    json item = {{"type", image.type}, {"entry", image.entryIndex + 1}, {"length", image.length},
                 {"record", record}, {"address", address},
                 {"crc32", crc32(std::span(image.bytes.get(), image.length))}};
    if (image.volume >= 0) item["volume"] = image.volume;
    list.push_back(item);
  }
  return list;
}

json bootloaderInfoJson(const hx::PackageRecords& records) {
  uint8_t info[hx::kBootloaderInfoBufferSize] = {};
  const int result = hx::extractBootloaderInfo(records.bootloader, info);
  json j = {{"result", result}};
  if (result != hx::kBootloaderInfoExtracted) return j;
  const uint32_t version = hx::bootloaderInfoVersion(info);
  j["version"] = version;
  j["recordSize"] = hx::bootloaderInfoSizeForVersion(version);
  j["headerWord"] = hx::loadLe32(info + hx::kBootloaderInfoHeaderWordOffset);
  j["checksumSeed"] = hx::loadLe32(info + hx::kBootloaderInfoSeedOffset);
  j["word96"] = hx::loadLe32(info + hx::kBootloaderInfoExtraWordOffset);
  return j;
}

std::string textAt(const uint8_t* record, uint32_t offset, uint32_t end) {
  std::string text;
  for (uint32_t i = offset; i < end && record[i] != 0; ++i) text.push_back(static_cast<char>(record[i]));
  return text;
}

json romInfoJson(const hx::PackageRecords& records) {
  uint8_t info[hx::kRomInfoRecordMax] = {};
  const int result = hx::extractRomInfo(records.romImage, info);
  json j = {{"result", result}};
  if (result != hx::kRomInfoExtracted) return j;
  const std::span<const uint8_t> rom(records.romImage.data, records.romImage.length);
  const uint32_t version = hx::romInfoVersion(std::span<const uint8_t>(info, sizeof info));
  j["offset"] = *hx::findRomInfoMarker(rom);
  j["version"] = version;
  j["recordSize"] = hx::romInfoSizeForVersion(version);
  j["name"] = textAt(info, hx::kRomInfoNameOffset, hx::kRomInfoSecondNameOffset);
  j["secondName"] = textAt(info, hx::kRomInfoSecondNameOffset, hx::kRomInfoAreaCountOffset);
  const uint16_t count = hx::romInfoAreaCount(info);
  j["areaCount"] = count;
  json areas = json::array();
  for (uint32_t i = 0; i < count; ++i) {
    const auto area = hx::romInfoArea(info, i);
    if (!area) break;
    areas.push_back({{"start", area->start}, {"length", area->length}});
  }
  j["areas"] = areas;
  j["fsAreaStart"] = hx::romInfoFsAreaStart(info);
  j["fsAreaLength"] = hx::romInfoFsAreaLength(info);
  // The tag lies past a version-5 record; show the image's bytes there.
  const uint64_t tagAt = uint64_t{*hx::findRomInfoMarker(rom)} + hx::kRomInfoFormatTagOffset;
  std::string tag;
  for (uint64_t i = tagAt; i < tagAt + hx::kFsFormatTag.size() && i < rom.size(); ++i) {
    tag.push_back(rom[i] >= 0x20 && rom[i] < 0x7F ? static_cast<char>(rom[i]) : '.');
  }
  j["formatTag"] = tag;
  return j;
}

json fsImageJson(uint32_t k, const hx::ImageBuffer& record) {
  const std::span<const uint8_t> image(record.data, record.length);
  json j = {{"index", k}, {"address", record.address}, {"length", record.length}};
  hx::FsImageHeader h;
  std::string problem;
  if (!hx::parseFsImageHeader(image, h, &problem)) {
    j["problem"] = problem;
    return j;
  }
  j["header"] = {{"infoBlocksBefore", h.infoBlocksBefore}, {"regionCount", h.regionCount},
                 {"totalBlocks", h.totalBlocks}, {"mappedCount", h.mappedCount},
                 {"reservedCount", h.reservedCount}, {"eraseStartIndex", h.eraseStartIndex},
                 {"blocksPerRegion", h.blocksPerRegion}, {"countersEnd", h.countersEnd},
                 {"pageSize", h.pageSize}, {"blockKiB", h.blockKiB}};
  j["firstMappedBlock"] = h.table.mappedBlocks().front().block;
  const auto split = hx::splitRawBlock(hx::fsInfoBlock(image, h), h.geometry);
  const auto fsHeader = split ? hx::findFsHeader(*split, h.geometry) : std::nullopt;
  if (!fsHeader) {
    j["fsHeader"] = nullptr;
    return j;
  }
  const auto v = fsHeader->version();
  json volumes = json::array();
  for (uint32_t i = 0; i < hx::kFsVolumeCount; ++i) {
    if (fsHeader->volumeLength(i) != 0) {
      volumes.push_back({{"volume", i}, {"start", fsHeader->volumeStart(i)}, {"length", fsHeader->volumeLength(i)}});
    }
  }
  j["fsHeader"] = {{"version", fmt::format("{}.{}.{}", v[0], v[1], v[2])}, {"written", hx::isFsVersion520(*fsHeader)},
                   {"infoAreaStart", fsHeader->infoAreaStart()}, {"infoAreaLength", fsHeader->infoAreaLength()},
                   {"volumes", volumes}};
  return j;
}

json inspect(const std::string& path) {
  json doc = {{"package", path}};
  hx::PackageRecords records;
  const bool loaded = hx::readPackageFileInto(path, records);
  doc["loaded"] = loaded;
  if (!loaded) {
    doc["loadFailure"] = records.loadFailure;
    std::string problem;
    if (auto source = hx::openPackageFile(path, problem)) {
      doc["size"] = source->size();
      hx::PackageHeader header;
      hx::NandGeometry geometry;
      std::vector<hx::PackageEntry> entries;
      if (hx::readPackageLayout(*source, header, geometry, entries, problem)) {
        doc["geometry"] = geometryJson(geometry);
        doc["entries"] = entriesJson(entries);
      }
    }
  } else {
    std::string problem;
    if (auto source = hx::openPackageFile(path, problem)) doc["size"] = source->size();
    doc["geometry"] = geometryJson(records.contents->geometry);
    doc["entries"] = entriesJson(records.contents->entries);
    doc["bootloaderSpan"] = records.contents->bootloaderSpan;
    doc["images"] = imagesJson(records);
    doc["bootloaderInfo"] = bootloaderInfoJson(records);
    doc["romInfo"] = romInfoJson(records);
    doc["fsImagesInPackage"] = records.fsImagesInPackage;
    json fs = json::array();
    for (uint32_t k = 0; k < hx::kFsImageSlots; ++k) {
      if (records.fsImages[k].data) fs.push_back(fsImageJson(k, records.fsImages[k]));
    }
    doc["fsImages"] = fs;
  }
  const auto verdict = hx::judgePackage(records);
  doc["verdict"] = {{"downloadable", verdict.downloadable}, {"reason", verdict.reason}};
  return doc;
}

// ---- human output -----------------------------------------------------------

void printGeometry(const json& g) {
  fmt::print("Geometry    {} + {} byte pages, {} pages per block, block {} data / {} raw bytes\n",
             g["pageSize"].get<uint32_t>(), g["spareSize"].get<uint32_t>(), g["pagesPerBlock"].get<uint32_t>(),
             g["blockDataSize"].get<uint32_t>(), g["rawBlockSize"].get<uint32_t>());
}

void printEntries(const json& entries) {
  fmt::print("\nEntry table\n  {:>3}  {:>10}  {:>10}  {:>4}  {}\n", "#", "first", "blocks", "type", "role");
  for (const auto& e : entries) {
    fmt::print("  {:>3}  {:>10}  {:>10}  {:>4}  {}\n", e["index"].get<size_t>(), e["firstBlock"].get<uint32_t>(),
               e["blockCount"].get<uint32_t>(), e["type"].get<uint32_t>(), e["role"].get<std::string>());
  }
}

void printImages(const json& images) {
  fmt::print("\nImages\n  {:>4}  {:>5}  {:>6}  {:>10}  {:>10}  {:>10}  {}\n", "type", "entry", "volume", "length",
             "address", "crc32", "record");
  for (const auto& i : images) {
    const std::string volume = i.contains("volume") ? std::to_string(i["volume"].get<int>()) : "-";
    fmt::print("  {:>4}  {:>5}  {:>6}  {:>10}  {:>10}  {:>10}  {}\n", i["type"].get<uint32_t>(),
               i["entry"].get<uint32_t>(), volume, i["length"].get<uint32_t>(), hex(i["address"].get<uint32_t>()),
               hex(i["crc32"].get<uint32_t>()), i["record"].get<std::string>());
  }
}

void printBootloaderInfo(const json& b) {
  fmt::print("\nBootloader information  ");
  if (b["result"].get<int>() != 0) {
    fmt::print("not found (result {})\n", b["result"].get<int>());
    return;
  }
  fmt::print("version {} ({} bytes), checksum seed {}, header word {}, word 96 {}\n", b["version"].get<uint32_t>(),
             b["recordSize"].get<uint32_t>(), hex(b["checksumSeed"].get<uint32_t>()),
             hex(b["headerWord"].get<uint32_t>()), hex(b["word96"].get<uint32_t>()));
}

void printRomInfo(const json& r) {
  fmt::print("\nROM information  ");
  if (r["result"].get<int>() != 0) {
    fmt::print("not found (result {})\n", r["result"].get<int>());
    return;
  }
  fmt::print("version {} ({} bytes) at ROM offset {}\n", r["version"].get<uint32_t>(),
             r["recordSize"].get<uint32_t>(), hex(r["offset"].get<uint32_t>()));
  fmt::print("  names       \"{}\", \"{}\"\n", r["name"].get<std::string>(), r["secondName"].get<std::string>());
  fmt::print("  FS area     {} + {} bytes, format tag \"{}\"\n", hex(r["fsAreaStart"].get<uint32_t>()),
             r["fsAreaLength"].get<uint32_t>(), r["formatTag"].get<std::string>());
  fmt::print("  area table  {} entries\n", r["areaCount"].get<uint32_t>());
  size_t i = 0;
  for (const auto& a : r["areas"]) {
    fmt::print("    {:>2}  {}  {:>10} bytes\n", i++, hex(a["start"].get<uint32_t>()), a["length"].get<uint32_t>());
  }
}

void printFsImages(const json& doc) {
  fmt::print("\nFS images ({} in the package)\n", doc["fsImagesInPackage"].get<uint32_t>());
  for (const auto& f : doc["fsImages"]) {
    fmt::print("  FS image {}  address {}, {} bytes\n", f["index"].get<uint32_t>(), hex(f["address"].get<uint32_t>()),
               f["length"].get<uint32_t>());
    if (f.contains("problem")) {
      fmt::print("    malformed: {}\n", f["problem"].get<std::string>());
      continue;
    }
    const auto& h = f["header"];
    fmt::print("    header    {} mapped from block {}, {} reserved, {} regions, erase from {}, counters end {}, "
               "{} blocks before the info block\n",
               h["mappedCount"].get<uint32_t>(), f["firstMappedBlock"].get<uint32_t>(),
               h["reservedCount"].get<uint32_t>(), h["regionCount"].get<uint32_t>(),
               h["eraseStartIndex"].get<uint32_t>(), h["countersEnd"].get<uint32_t>(),
               h["infoBlocksBefore"].get<uint32_t>());
    if (f["fsHeader"].is_null()) {
      fmt::print("    FsHeader  none (no marked page in the info block)\n");
      continue;
    }
    const auto& fh = f["fsHeader"];
    fmt::print("    FsHeader  version {}{}, info area {} + {} bytes\n", fh["version"].get<std::string>(),
               fh["written"].get<bool>() ? "" : " (not written: only 5.2.0 is)",
               hex(fh["infoAreaStart"].get<uint32_t>()), fh["infoAreaLength"].get<uint32_t>());
    for (const auto& v : fh["volumes"]) {
      fmt::print("      volume {}  {} + {} bytes\n", v["volume"].get<uint32_t>(), hex(v["start"].get<uint32_t>()),
                 v["length"].get<uint32_t>());
    }
  }
}

void printHuman(const json& doc) {
  fmt::print("Package     {}", doc["package"].get<std::string>());
  if (doc.contains("size")) fmt::print(" ({} bytes)", doc["size"].get<uint64_t>());
  fmt::print("\n");
  if (doc.contains("geometry")) printGeometry(doc["geometry"]);
  if (!doc["loaded"].get<bool>()) fmt::print("Load        failed: {}\n", doc["loadFailure"].get<std::string>());
  if (doc.contains("bootloaderSpan")) {
    fmt::print("Bootloader  span {} (bootloader {} bytes)\n", doc["bootloaderSpan"].get<uint32_t>(),
               doc["bootloaderSpan"].get<uint32_t>() - 128);
  }
  if (doc.contains("entries")) printEntries(doc["entries"]);
  if (doc.contains("images")) printImages(doc["images"]);
  if (doc.contains("bootloaderInfo")) printBootloaderInfo(doc["bootloaderInfo"]);
  if (doc.contains("romInfo")) printRomInfo(doc["romInfo"]);
  if (doc.contains("fsImages")) printFsImages(doc);
  const auto& verdict = doc["verdict"];
  fmt::print("\nVerdict     {}\n", verdict["downloadable"].get<bool>()
                                       ? std::string("downloadable")
                                       : "not downloadable: " + verdict["reason"].get<std::string>());
}

}  // namespace

void registerInspectCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("inspect", "Show what the module will do with a firmware package");
  auto path = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  command->add_option("PACKAGE", *path, "the firmware package")->required();
  command->add_flag("--json", *asJson, "print one JSON document");
  command->callback([path, asJson, &exitCode] {
    const json doc = inspect(*path);
    if (*asJson) {
      fmt::print("{}\n", doc.dump(2));
    } else {
      printHuman(doc);
    }
    exitCode = doc["verdict"]["downloadable"].get<bool>() ? 0 : 1;
  });
}

}  // namespace hxflash
