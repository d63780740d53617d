#include "hxphone/verify.h"

#include <fstream>
#include <iterator>
#include <map>
#include <optional>

#include "hxphone/flash_layout.h"
#include "hxphone/fs_info_block.h"
#include "hxphone/wire.h"

namespace hxphone {

namespace {

class Checker {
 public:
  Checker(const NandModel& nand, const pkgbuild::BuiltPackage& pkg, VerifyReport& report)
      : m_nand(nand), m_g(nand.geometry()), m_pkg(pkg), m_report(report) {}

  void run() {
    uint32_t romBlock = checkBootloaders();
    checkRomArea(romBlock);
    checkFsImages();
  }

 private:
  void compare(const std::string& what, std::span<const uint8_t> got, std::span<const uint8_t> want) {
    if (got.size() == want.size() && std::equal(got.begin(), got.end(), want.begin())) {
      m_report.checked.push_back(what);
      return;
    }
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    m_report.problems.push_back(what + ": differs from the package at byte " + std::to_string(at));
  }

  std::optional<std::vector<uint8_t>> load(const std::string& what, uint32_t block, size_t length, BlockExtent* extent) {
    try {
      return loadPageData(m_nand, block, length, extent);
    } catch (const std::out_of_range&) {
      m_report.problems.push_back(what + ": the NAND ends before it does");
      return std::nullopt;
    }
  }

  uint32_t checkBootloaders() {
    std::vector<uint8_t> bootloader = m_pkg.bootloader(), ext = m_pkg.extBootloader();
    BlockExtent bl{0, 0}, ex{0, 0};
    if (auto got = load("bootloader", kBootloaderFirstBlock, bootloader.size(), &bl)) compare("bootloader", *got, bootloader);
    if (auto got = load("ext bootloader", bl.end, ext.size(), &ex)) compare("ext bootloader", *got, ext);
    return primaryRomFirstBlock(ex.end);
  }

  void checkRomArea(uint32_t romBlock) {
    std::vector<uint8_t> primary = m_pkg.primaryRom(), secondary = m_pkg.secondaryRom();
    std::vector<uint8_t> area = romArea(primary, secondary);
    auto got = load("ROM area", romBlock, area.size(), nullptr);
    if (!got) return;
    std::span<const uint8_t> all(*got);
    compare("primary ROM image (from block " + std::to_string(romBlock) + ")", all.first(primary.size()), primary);
    compare("secondary ROM image", all.last(secondary.size()), secondary);
  }

  void checkFsImages() {
    // Images that share an info area share one info block.
    std::map<std::pair<uint32_t, uint32_t>, std::vector<size_t>> byInfoArea;
    const auto& images = m_pkg.layout.fsImages;
    for (size_t k = 0; k < images.size(); ++k)
      if (images[k].written)
        byInfoArea[{images[k].fsHeader.infoAreaStart, images[k].fsHeader.infoAreaLength}].push_back(k);
    for (const auto& [area, members] : byInfoArea) checkInfoArea(area.first, area.second, members);
  }

  void checkInfoArea(uint32_t start, uint32_t length, const std::vector<size_t>& members) {
    const auto& first = m_pkg.layout.fsImages[members.front()];
    std::vector<uint32_t> blocks = infoBlocksIn(m_nand, start, length);
    std::string where = "info area at " + hex(start, 8);
    if (blocks.size() != 1) {
      m_report.problems.push_back(where + ": " + std::to_string(blocks.size()) +
                                  " info blocks, expected exactly one (the old one erased)");
      if (blocks.empty()) return;
    }
    uint32_t infoBlock = blocks.back();
    auto raw = m_nand.rawBlock(infoBlock);
    auto header = infoBlockHeader(raw, m_g);
    if (!header || header->infoAreaStart != first.fsHeader.infoAreaStart ||
        header->infoAreaLength != first.fsHeader.infoAreaLength || header->volumes != first.fsHeader.volumes ||
        header->version != first.fsHeader.version)
      m_report.problems.push_back(where + ": the info block in block " + std::to_string(infoBlock) +
                                  " has another layout or version than the package's");
    else
      m_report.checked.push_back(where + ": one info block, in block " + std::to_string(infoBlock));
    bool region0Spare = false;
    for (const auto& r : first.reservedBlocks) region0Spare |= r.region == 0 && r.block == infoBlock;
    if (!region0Spare) m_report.problems.push_back(where + ": info block " + std::to_string(infoBlock) + " is not a region-0 reserved block");
    std::vector<uint8_t> data = pageDataOf(raw, m_g);
    std::map<uint32_t, uint32_t> highestSpare;  // region -> highest recorded spare + 1
    for (size_t k : members) checkDataBlocks(k, data, highestSpare);
    checkCounters(where, first.header.countersEnd, data, highestSpare);
  }

  void checkDataBlocks(size_t k, const std::vector<uint8_t>& info, std::map<uint32_t, uint32_t>& highestSpare) {
    const auto& image = m_pkg.layout.fsImages[k];
    const uint32_t base = static_cast<uint32_t>(m_pkg.layout.fsAreaStart / m_g.blockDataSize());
    const int64_t offset0 = int64_t{image.mappedBlocks.front().block} - base;
    const uint32_t remapEnd = image.header.countersEnd >= 16 ? image.header.countersEnd - 16 : 0;
    size_t good = 0;
    for (size_t d = 0; d < image.mappedBlocks.size(); ++d) {
      const auto& mapped = image.mappedBlocks[d];
      int64_t index = offset0 + static_cast<int64_t>(d);
      uint16_t entry = 0;
      if (index >= 0 && static_cast<uint64_t>(index) * 2 + 2 <= remapEnd && static_cast<size_t>(index) * 2 + 2 <= info.size())
        entry = loadLe16(info.data() + index * 2);
      uint32_t target = entry ? entry + base : mapped.block;
      std::string what = "FS image " + std::to_string(k) + " data block " + std::to_string(d);
      if (entry) {
        bool spareOfRegion = false;
        for (const auto& r : image.reservedBlocks) spareOfRegion |= r.block == target && r.region == mapped.region;
        if (!spareOfRegion)
          m_report.problems.push_back(what + ": remapped to block " + std::to_string(target) +
                                      ", not a reserved block of region " + std::to_string(mapped.region));
        uint32_t& h = highestSpare[mapped.region];
        h = std::max<uint32_t>(h, entry + 1u);
      }
      if (target >= m_g.blockCount || m_nand.isBad(target)) {
        m_report.problems.push_back(what + ": its block " + std::to_string(target) + " is bad or beyond the device");
        continue;
      }
      auto raw = m_nand.rawBlock(target);
      auto want = m_pkg.fsDataBlock(k, d);
      size_t before = m_report.problems.size();
      compare(what + " (block " + std::to_string(target) + ")", raw, want);
      if (m_report.problems.size() == before) {
        m_report.checked.pop_back();
        ++good;
      }
    }
    m_report.checked.push_back("FS image " + std::to_string(k) + ": " + std::to_string(good) + " of " +
                               std::to_string(image.mappedBlocks.size()) + " data blocks");
  }

  void checkCounters(const std::string& where, uint32_t countersEnd, const std::vector<uint8_t>& info,
                     const std::map<uint32_t, uint32_t>& highestSpare) {
    if (countersEnd < 16 || countersEnd > info.size()) {
      m_report.problems.push_back(where + ": counters outside the info block");
      return;
    }
    for (const auto& [region, needed] : highestSpare) {
      if (region >= 8) continue;
      uint16_t counter = loadLe16(info.data() + countersEnd - 16 + 2 * region);
      if (counter < needed)
        m_report.problems.push_back(where + ": region " + std::to_string(region) + " counter " + std::to_string(counter) +
                                    " is below its highest recorded spare + 1 (" + std::to_string(needed) + ")");
      else
        m_report.checked.push_back(where + ": region " + std::to_string(region) + " counter " + std::to_string(counter));
    }
  }

  const NandModel& m_nand;
  const NandGeometry& m_g;
  const pkgbuild::BuiltPackage& m_pkg;
  VerifyReport& m_report;
};

NandGeometry nandGeometryFor(const pkgbuild::Geometry& g, uint32_t blocks) {
  NandGeometry n = g.pageSize == 512 ? NandGeometry::smallPage(blocks) : NandGeometry::largePage(blocks);
  if (n.blockDataSize() != g.blockDataSize)
    throw std::runtime_error("the package's block size (" + std::to_string(g.blockKiB) + " KiB) is not one a phone has");
  return n;
}

}  // namespace

std::string VerifyReport::text() const {
  std::string out;
  for (const auto& c : checked) out += "ok       " + c + "\n";
  for (const auto& p : problems) out += "PROBLEM  " + p + "\n";
  out += ok() ? "verify: the phone holds the package\n"
              : "verify: " + std::to_string(problems.size()) + " problem(s): the phone does not hold the package\n";
  return out;
}

nlohmann::json VerifyReport::toJson() const { return {{"ok", ok()}, {"checked", checked}, {"problems", problems}}; }

VerifyReport verifyNand(const NandModel& nand, const pkgbuild::BuiltPackage& package) {
  VerifyReport report;
  const auto& pg = package.layout.geometry;
  const NandGeometry& g = nand.geometry();
  if (pg.pageSize != g.pageSize || pg.blockDataSize != g.blockDataSize()) {
    report.problems.push_back("the NAND's geometry differs from the package's");
    return report;
  }
  Checker(nand, package, report).run();
  return report;
}

VerifyReport verifyDump(const VerifyRequest& request) {
  pkgbuild::PackageRecipe recipe = pkgbuild::readRecipe(pkgbuild::descPathFor(request.packagePath));
  pkgbuild::BuiltPackage package = pkgbuild::build(recipe);
  VerifyReport report;
  std::ifstream in(request.packagePath, std::ios::binary);
  std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (bytes != package.bytes) {
    report.problems.push_back("the package differs from what its description builds");
    return report;
  }
  NandGeometry geometry = nandGeometryFor(package.layout.geometry, 16);
  if (request.pageSize && request.pageSize != geometry.pageSize)
    throw std::runtime_error("the dump's page size differs from the package's");
  NandModel nand = NandModel::readDump(request.dumpPath, geometry);
  return verifyNand(nand, package);
}

}  // namespace hxphone
