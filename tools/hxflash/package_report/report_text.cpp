// `hxflash inspect`: the report as lines for a person.
#include <fmt/format.h>

#include "download/download_sequence.h"
#include "download/result_texts.h"
#include "formats/bootloader_info.h"
#include "formats/rom_info.h"
#include "package_report/report_printers.h"
#include "package/package_parse.h"

namespace hxflash {
namespace {

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

void printFsHeader(const FsHeaderReport& fh) {
  fmt::print("    FsHeader  version {}{}, info area {} + {} bytes\n", fh.version,
             fh.written ? "" : " (not written: only 5.2.0 is)", hex(fh.infoAreaStart), fh.infoAreaLength);
  for (const FsVolumeRow& v : fh.volumes)
    fmt::print("      volume {}  {} + {} bytes\n", v.volume, hex(v.start), v.length);
}

void printFsImage(const FsImageReport& f) {
  fmt::print("  FS image {}  address {}, {} bytes\n", f.index, hex(f.address), f.length);
  if (!f.header) {
    fmt::print("    malformed: {}\n", f.problem);
    return;
  }
  const hx::FsImageHeader& h = *f.header;
  fmt::print("    header    {} mapped from block {}, {} reserved, {} regions, erase from {}, counters end {}, "
             "{} blocks before the info block\n",
             h.mappedCount, f.firstMappedBlock, h.reservedCount, h.regionCount, h.eraseStartIndex, h.countersEnd,
             h.infoBlocksBefore);
  if (!f.problem.empty()) fmt::print("    malformed: {}\n", f.problem);
  if (f.fsHeader) {
    printFsHeader(*f.fsHeader);
  } else {
    fmt::print("    FsHeader  none (no marked page in the info block)\n");
  }
}

void printVerdict(const hx::PackageVerdict& verdict) {
  if (verdict.downloadable) {
    fmt::print("\nVerdict     downloadable\n");
  } else {
    fmt::print("\nVerdict     not downloadable: {}\n            (a download ends with {}: {})\n", verdict.reason,
               hx::kDownloadRefused, hx::resultText(hx::kDownloadRefused));
  }
}

}  // namespace

void printReportText(const PackageReport& r) {
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
    fmt::print("\nFS images ({} in the package)\n", r.fsImagesInPackage);
    for (const FsImageReport& f : r.fsImages) printFsImage(f);
  }
  printVerdict(r.verdict);
}

}  // namespace hxflash
