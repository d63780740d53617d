// Any bytes as an FS image, handed straight to the FS writer, against a phone
// that answers well: blank, or (first input byte odd) holding an info block
// whose FsHeader is the image's own. The writer's checks must refuse what
// they cannot walk: no crash, no read or write out of bounds.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#include "download/fs_writer.h"
#include "formats/fs_image_header.h"
#include "formats/little_endian.h"
#include "formats/rom_info.h"
#include "fuzz_inputs.h"
#include "protocol/nand_agent.h"

namespace {

constexpr uint32_t kFsAreaFirstBlock = 100;
constexpr uint32_t kFsAreaBlocks = 100;
constexpr uint32_t kRomInfoBlock = 2;

// A phone whose NAND is erased but for its ROM information, which puts the FS
// area at blocks 100..199 of whatever block size the host reads with, and
// (when asked) the image's own info block wherever the host looks for one.
class WellBehavedPhone final : public hx::NandAgent {
 public:
  WellBehavedPhone(std::span<const uint8_t> infoBlock) : m_infoBlock(infoBlock) {}

  int readBack(uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity) override {
    const size_t n = std::min<size_t>(length, capacity);
    std::memset(dest, 0xFF, n);
    if (mode == hx::kReadBackDataOnly && length != 0 && address == kRomInfoBlock * length) {
      putRomInfo(dest, n, length);
    } else if (mode == hx::kReadBackPagesWithSpare && !m_infoBlock.empty()) {
      std::memcpy(dest, m_infoBlock.data(), std::min(n, m_infoBlock.size()));
    }
    return 0;
  }
  int formatRange(hx::FormatFlags, uint32_t, uint32_t) override { return 0; }
  int writeBlock(uint32_t, const hx::BlockPages&, uint16_t) override { return 0; }
  int writePages(uint32_t, const uint32_t*, uint32_t, const hx::BlockPages&) override { return 0; }

 private:
  static void putRomInfo(uint8_t* dest, size_t n, uint32_t blockDataSize) {
    uint8_t record[hx::kRomInfoRecordMax] = {};
    std::memcpy(record, "MTK_ROMINFO_v05", 15);
    hx::storeLe16(record + 210, 2);
    hx::storeLe32(record + 236, kFsAreaFirstBlock * blockDataSize);
    hx::storeLe32(record + 240, kFsAreaBlocks * blockDataSize);
    std::memcpy(record + 332, "05200001", 8);
    if (n >= sizeof record) std::memcpy(dest, record, sizeof record);
  }

  std::span<const uint8_t> m_infoBlock;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  hxfuzz::fastClock();
  if (size == 0) return 0;
  const bool phoneHoldsInfoBlock = data[0] & 1;
  const std::span<const uint8_t> image(data + 1, size - 1);
  std::span<const uint8_t> infoBlock;
  hx::FsImageHeader header;
  if (phoneHoldsInfoBlock && hx::readFsImageFields(image, header)) infoBlock = hx::fsInfoBlock(image, header);
  WellBehavedPhone phone(infoBlock);
  const hx::ImageBuffer record{image.data(), static_cast<uint32_t>(image.size()), 0};
  hx::writeFsImage(record, phone, kFsAreaFirstBlock * 16384, kFsAreaBlocks * 16384, hxfuzz::quietReport());
  return 0;
}
