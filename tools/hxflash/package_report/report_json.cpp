// `hxflash inspect --json`: the report as one JSON document.
#include <fmt/format.h>

#include <nlohmann/json.hpp>

#include "download/download_sequence.h"
#include "download/result_texts.h"
#include "formats/bootloader_info.h"
#include "formats/rom_info.h"
#include "package_report/report_printers.h"

namespace hxflash {
namespace {

using nlohmann::json;

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

json toJson(const hx::FsImageHeader& h) {
  return {{"infoBlocksBefore", h.infoBlocksBefore}, {"regionCount", h.regionCount},
          {"totalBlocks", h.totalBlocks}, {"mappedCount", h.mappedCount},
          {"reservedCount", h.reservedCount}, {"eraseStartIndex", h.eraseStartIndex},
          {"blocksPerRegion", h.blocksPerRegion}, {"countersEnd", h.countersEnd},
          {"pageSize", h.pageSize}, {"blockKiB", h.blockKiB}};
}

json toJson(const FsHeaderReport& f) {
  json volumes = json::array();
  for (const FsVolumeRow& v : f.volumes)
    volumes.push_back({{"volume", v.volume}, {"start", v.start}, {"length", v.length}});
  return {{"version", f.version}, {"written", f.written}, {"infoAreaStart", f.infoAreaStart},
          {"infoAreaLength", f.infoAreaLength}, {"volumes", volumes}};
}

json toJson(const FsImageReport& f) {
  json j = {{"index", f.index}, {"address", f.address}, {"length", f.length}};
  if (!f.header) {
    j["problem"] = f.problem;
    return j;
  }
  j["header"] = toJson(*f.header);
  j["firstMappedBlock"] = f.firstMappedBlock;
  if (!f.problem.empty()) j["problem"] = f.problem;
  j["fsHeader"] = f.fsHeader ? toJson(*f.fsHeader) : json(nullptr);
  return j;
}

json toJson(const hx::PackageVerdict& verdict) {
  json j = {{"downloadable", verdict.downloadable}, {"reason", verdict.reason}};
  if (!verdict.downloadable)
    j["result"] = {{"code", hx::kDownloadRefused}, {"text", hx::resultText(hx::kDownloadRefused)}};
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
  doc["verdict"] = toJson(r.verdict);
  return doc;
}

}  // namespace

void printReportJson(const PackageReport& report) { fmt::print("{}\n", toJson(report).dump(2)); }

}  // namespace hxflash
