// Feeds arbitrary bytes as a package through the load, the FS volume split
// and the package verdict, then walks every FS image the load produced the
// way the FS writer does.
#include <cstdint>
#include <cstdio>
#include <span>

#include "formats/block_marks.h"
#include "formats/data_checksum.h"
#include "formats/fs_header.h"
#include "formats/fs_image_checks.h"
#include "formats/fs_image_header.h"
#include "formats/fs_info_block.h"
#include "formats/page_split.h"
#include "package/package_records.h"
#include "package/package_source.h"
#include "package/package_verdict.h"

namespace {

void walkFsImage(const hx::ImageBuffer& record) {
  const std::span<const uint8_t> image(record.data, record.length);
  hx::FsImageHeader header;
  if (!hx::parseFsImageHeader(image, header)) return;
  const auto info = hx::splitRawBlock(hx::fsInfoBlock(image, header), header.geometry);
  if (!info) __builtin_trap();  // an accepted image holds its info block
  if (const auto fsHeader = hx::findFsHeader(*info, header.geometry)) {
    (void)hx::isFsVersion520(*fsHeader);
  }
  (void)hx::fsImageProblemForBase(header, header.table.mappedBlocks().front().block);
  for (uint32_t r = 0; r < 8; ++r) (void)hx::regionCounter(*info->data, header.countersEnd, r);
  for (uint32_t d = 0; d < header.mappedCount; ++d) {
    const auto block = hx::splitRawBlock(hx::fsDataBlock(image, header, d), header.geometry);
    if (!block) __builtin_trap();
    (void)hx::programmedPages(*block->spare, header.geometry.spareSize, header.geometry.pagesPerBlock());
    (void)hx::dataChecksum(*block->data);
  }
  for (uint32_t i = 0; i < header.reservedCount; ++i) {
    (void)header.table.blockAt(header.eraseStartIndex + i);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // The load's refusal lines would dominate the run time.
  if (!std::freopen("/dev/null", "w", stdout)) return 0;
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hx::MemoryPackageSource source(std::span<const uint8_t>(data, size));
  hx::PackageRecords records;
  hx::loadPackageFrom(source, "fuzz input", records);
  (void)hx::judgePackage(records);
  for (const auto& fs : records.fsImages) {
    if (fs.data) walkFsImage(fs);
  }
  return 0;
}
