// The FS area of a fresh phone after a correct flash of a built package.
#include "pkgbuild/fresh_flash.h"

#include <map>
#include <optional>

namespace pkgbuild {
namespace {

constexpr size_t kAddressedFsImages = 4;

// Region-0 reserved blocks from the back: the order the info block takes them.
std::vector<uint32_t> regionZeroFromEnd(const FsImageLayout& img) {
  std::vector<uint32_t> blocks;
  for (auto it = img.reservedBlocks.rbegin(); it != img.reservedBlocks.rend(); ++it)
    if (it->region == 0) blocks.push_back(it->block);
  return blocks;
}

struct InfoArea {
  std::optional<uint32_t> current;  // block holding the phone's info block
};

}  // namespace

FreshFlashExpectation expectFreshFlash(const BuiltPackage& pkg) {
  FreshFlashExpectation out;
  const auto& images = pkg.layout.fsImages;
  if (images.size() > kAddressedFsImages) {
    out.succeeds = false;
    out.failure = "more than four FS images";
    return out;
  }
  for (const FsImageLayout& img : images)
    if (!img.hasFsHeader) {
      out.succeeds = false;
      out.failure = "an FS image has no FsHeader";
      return out;
    }

  std::map<uint32_t, ExpectedFsBlock> nand;
  std::map<uint32_t, InfoArea> infoAreas;  // by infoAreaStart
  for (const FsImageLayout& img : images) {
    if (!img.written) continue;
    InfoArea& area = infoAreas[img.fsHeader.infoAreaStart];
    if (!area.current)
      for (const BlockRef& r : img.reservedBlocks) nand[r.block] = {r.block, true, 0};
    for (size_t d = 0; d < img.mappedBlocks.size() && d < img.dataBlockFileOffsets.size(); ++d) {
      const uint32_t block = img.mappedBlocks[d].block;
      nand[block] = {block, false, img.dataBlockFileOffsets[d]};
    }
    std::optional<uint32_t> target;
    for (uint32_t b : regionZeroFromEnd(img))
      if (b != area.current) {
        target = b;
        break;
      }
    if (!target) {
      out.succeeds = false;
      out.failure = "no region-0 reserved block left for the info block";
      break;
    }
    nand[*target] = {*target, false, img.infoBlockFileOffset};
    if (area.current) nand[*area.current] = {*area.current, true, 0};
    area.current = target;
  }
  for (const auto& [block, expected] : nand) out.fsBlocks.push_back(expected);
  return out;
}

}  // namespace pkgbuild
