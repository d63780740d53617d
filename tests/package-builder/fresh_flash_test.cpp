// The expected FS area of a fresh phone after a correct flash.
#include <gtest/gtest.h>

#include "pkgbuild/fresh_flash.h"

namespace {

const pkgbuild::ExpectedFsBlock* find(const pkgbuild::FreshFlashExpectation& e, uint32_t block) {
  for (const auto& b : e.fsBlocks)
    if (b.block == block) return &b;
  return nullptr;
}

TEST(FreshFlash, DataBlocksAtTheirMappingAndInfoBlockAlternatesBetweenTheLastRegionZeroSpares) {
  for (size_t volumes : {1u, 2u, 3u}) {
    auto recipe = pkgbuild::tinyRecipe(2048);
    recipe.fs[0].volumes.resize(volumes);
    const auto pkg = pkgbuild::build(recipe);
    const auto e = pkgbuild::expectFreshFlash(pkg);
    ASSERT_TRUE(e.succeeds) << e.failure;
    for (size_t k = 0; k < pkg.layout.fsImages.size(); ++k) {
      const auto& img = pkg.layout.fsImages[k];
      for (size_t d = 0; d < img.mappedBlocks.size(); ++d) {
        const auto* b = find(e, img.mappedBlocks[d].block);
        ASSERT_NE(b, nullptr);
        EXPECT_FALSE(b->erased);
        EXPECT_EQ(b->fileOffset, img.dataBlockFileOffsets[d]);
      }
    }
    // tinyRecipe: regions 0, 1, 0, 1 over the four reserved blocks.
    const auto& reserved = pkg.layout.fsImages[0].reservedBlocks;
    const uint32_t last = reserved[2].block, previous = reserved[0].block;
    const uint32_t expectedAt = volumes % 2 ? last : previous;
    for (const auto& r : reserved) {
      const auto* b = find(e, r.block);
      ASSERT_NE(b, nullptr);
      EXPECT_EQ(b->erased, r.block != expectedAt) << volumes << " " << r.block;
      if (!b->erased) {
        EXPECT_EQ(b->fileOffset, pkg.layout.fsImages[0].infoBlockFileOffset);
      }
    }
    EXPECT_TRUE(std::is_sorted(e.fsBlocks.begin(), e.fsBlocks.end(),
                               [](const auto& a, const auto& b) { return a.block < b.block; }));
  }
}

TEST(FreshFlash, FailuresTheModuleReports) {
  auto one = pkgbuild::tinyRecipe(512);
  one.fs[0].reservedPerRegion = 1;  // one region-0 spare: the second image has nowhere to put its info block
  EXPECT_FALSE(pkgbuild::expectFreshFlash(pkgbuild::build(one)).succeeds);
  one.fs[0].volumes.resize(1);
  EXPECT_TRUE(pkgbuild::expectFreshFlash(pkgbuild::build(one)).succeeds);

  auto five = pkgbuild::tinyRecipe(512);
  five.fs[0].volumes.resize(5, pkgbuild::FsVolumeRecipe{1});
  EXPECT_FALSE(pkgbuild::expectFreshFlash(pkgbuild::build(five)).succeeds);

  auto unmarked = pkgbuild::tinyRecipe(512);
  unmarked.fs[0].markInfoBlock = false;
  EXPECT_FALSE(pkgbuild::expectFreshFlash(pkgbuild::build(unmarked)).succeeds);

  auto skipped = pkgbuild::tinyRecipe(512);
  skipped.fs[0].version = {5, 2, 1};
  const auto e = pkgbuild::expectFreshFlash(pkgbuild::build(skipped));
  EXPECT_TRUE(e.succeeds);
  EXPECT_TRUE(e.fsBlocks.empty());
}

}  // namespace
