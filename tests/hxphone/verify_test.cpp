// verify against the package builder's description, and the preloaded NAND
// states (which a previous correct flash would have left, so they verify
// against the older package).
#include <gtest/gtest.h>

#include "hxphone/flash_layout.h"
#include "hxphone/fs_info_block.h"
#include "hxphone/nand_preload.h"
#include "hxphone/verify.h"
#include "hxphone/wire.h"
#include "pkgbuild/package_builder.h"
#include "test_images.h"

namespace hxphone::test {
namespace {

PhoneOptions phoneFor(uint32_t pageSize) {
  PhoneOptions o = pageSize == 512 ? smallPagePhone() : largePagePhone();
  o.geometry.blockCount = pageSize == 512 ? 512 : 128;
  return o;
}

// What a correct flash of `pkg` leaves on a fresh phone without bad blocks.
NandModel flashedNand(const pkgbuild::BuiltPackage& pkg, const PhoneOptions& o) {
  NandModel nand = freshNand(o);
  BlockExtent bl = storePageData(nand, 0, pkg.bootloader());
  BlockExtent ex = storePageData(nand, bl.end, pkg.extBootloader());
  storePageData(nand, primaryRomFirstBlock(ex.end), romArea(pkg.primaryRom(), pkg.secondaryRom()));
  for (size_t k = 0; k < pkg.layout.fsImages.size(); ++k) {
    const auto& image = pkg.layout.fsImages[k];
    if (!image.written) continue;
    for (size_t d = 0; d < image.mappedBlocks.size(); ++d) nand.storeRawBlock(image.mappedBlocks[d].block, pkg.fsDataBlock(k, d));
    uint32_t info = 0;
    for (const auto& r : image.reservedBlocks)
      if (r.region == 0) info = r.block;
    nand.storeRawBlock(info, pkg.fsInfoBlock(k));
  }
  return nand;
}

class Verify : public ::testing::TestWithParam<uint32_t> {
 protected:
  pkgbuild::PackageRecipe recipe() const { return pkgbuild::tinyRecipe(GetParam()); }
};

TEST_P(Verify, CorrectFlashPasses) {
  auto pkg = pkgbuild::build(recipe());
  NandModel nand = flashedNand(pkg, phoneFor(GetParam()));
  VerifyReport report = verifyNand(nand, pkg);
  EXPECT_TRUE(report.ok()) << report.text();
  EXPECT_GE(report.checked.size(), 5u);
}

TEST_P(Verify, FindsAChangedDataByteAChangedRomByteAndALeftoverInfoBlock) {
  auto pkg = pkgbuild::build(recipe());
  PhoneOptions o = phoneFor(GetParam());
  const auto& image = pkg.layout.fsImages[0];
  {
    NandModel nand = flashedNand(pkg, o);
    auto raw = nand.rawBlock(image.mappedBlocks[1].block);
    raw[10] ^= 1;
    nand.eraseBlock(image.mappedBlocks[1].block);
    nand.storeRawBlock(image.mappedBlocks[1].block, raw);
    EXPECT_FALSE(verifyNand(nand, pkg).ok());
  }
  {
    NandModel nand = flashedNand(pkg, o);
    std::vector<uint8_t> page(o.geometry.pageSize, 0x00);
    nand.programPage(2, 3, page.data(), nullptr);  // inside the primary ROM image
    EXPECT_FALSE(verifyNand(nand, pkg).ok());
  }
  {
    NandModel nand = flashedNand(pkg, o);
    // An old info block left behind in another reserved block.
    uint32_t other = 0;
    for (const auto& r : image.reservedBlocks)
      if (r.region != 0) other = r.block;
    nand.storeRawBlock(other, pkg.fsInfoBlock(0));
    VerifyReport report = verifyNand(nand, pkg);
    EXPECT_FALSE(report.ok());
    EXPECT_NE(report.text().find("2 info blocks"), std::string::npos) << report.text();
  }
}

TEST_P(Verify, PreloadedOlderFirmwareWithRemapsVerifiesAgainstTheOlderPackage) {
  auto base = pkgbuild::build(recipe());
  const auto& image = base.layout.fsImages[0];
  // A data block of region 1 remapped to its region's spare (region 0's
  // spare holds the info block).
  PreloadRemap remap{0, 0};
  while (image.mappedBlocks[remap.dataBlock].region != 1) ++remap.dataBlock;
  for (const auto& r : image.reservedBlocks)
    if (r.region == 1) remap.spare = r.block;
  PhoneOptions o = phoneFor(GetParam());
  PreloadedState state;
  NandModel nand = preloadOlderFirmware(o, recipe(), {true, {remap}}, &state);
  EXPECT_TRUE(nand.isBad(image.mappedBlocks[remap.dataBlock].block));
  ASSERT_EQ(state.oldInfoBlocks.size(), 1u);
  EXPECT_NE(state.oldInfoBlocks[0], remap.spare);
  pkgbuild::PackageRecipe olderRecipe = recipe();
  olderRecipe.seed ^= 0x0D0F1A3E5C7B9D11ULL;
  VerifyReport older = verifyNand(nand, pkgbuild::build(olderRecipe));
  EXPECT_TRUE(older.ok()) << older.text();
  EXPECT_FALSE(verifyNand(nand, base).ok());  // the new firmware is not there yet
  // The remap entry and the counter name the spare relative to the FS area.
  auto header = infoBlockHeader(nand.rawBlock(state.oldInfoBlocks[0]), o.geometry);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->version, (std::array<uint8_t, 3>{5, 2, 0}));
}

TEST_P(Verify, OtherVersionPreloadCarriesAnotherVersion) {
  PhoneOptions o = phoneFor(GetParam());
  PreloadedState state;
  NandModel nand = preloadOlderFirmware(o, recipe(), {false, {}}, &state);
  ASSERT_EQ(state.oldInfoBlocks.size(), 1u);
  auto header = infoBlockHeader(nand.rawBlock(state.oldInfoBlocks[0]), o.geometry);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->version, (std::array<uint8_t, 3>{5, 1, 0}));
}

TEST_P(Verify, RemapToABlockOutsideTheRegionIsRefused) {
  auto pkg = pkgbuild::build(recipe());
  const auto& image = pkg.layout.fsImages[0];
  EXPECT_THROW(preloadOlderFirmware(phoneFor(GetParam()), recipe(), {true, {PreloadRemap{0, image.mappedBlocks[1].block}}}),
               std::invalid_argument);
}

INSTANTIATE_TEST_SUITE_P(PageSizes, Verify, ::testing::Values(512u, 2048u));

}  // namespace
}  // namespace hxphone::test
