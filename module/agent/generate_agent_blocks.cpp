// Build-time generator of the four embedded agent blocks: DA1, DA2, the NOR
// flash device table and the NAND flash device table. It writes one C++ source
// that defines them as arrays with the lengths and record counts the host
// relies on. Usage: generate_agent_blocks <output.cpp>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "agent_table_layout.h"

namespace {

namespace layout = hx::agent_table;

constexpr size_t kDa1Bytes = 82808;
constexpr size_t kDa2Bytes = 7492;

using Bytes = std::vector<uint8_t>;

void putLe16(Bytes& b, size_t at, uint32_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}
void putName(Bytes& b, size_t at, size_t room, const std::string& name) {
  std::memcpy(b.data() + at, name.data(), name.size() < room - 1 ? name.size() : room - 1);
}

// An agent image: a branch over a name tag, then deterministic filler words.
Bytes agentImage(size_t length, const char* tag, uint32_t seed) {
  Bytes image(length, 0);
  putLe32(image, 0, 0xEA00000E);  // ARM: branch over the tag
  putName(image, 8, 48, tag);
  uint32_t x = seed;
  for (size_t i = 64; i + 4 <= length; i += 4) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    putLe32(image, i, x);
  }
  return image;
}

Bytes norTable() {
  static const struct {
    uint16_t maker;
    const char* name;
  } makers[] = {{0x0001, "NOR_A"}, {0x0004, "NOR_B"}, {0x0020, "NOR_C"}, {0x0089, "NOR_D"},
                {0x00C2, "NOR_E"}, {0x00EC, "NOR_F"}, {0x0098, "NOR_G"}, {0x001F, "NOR_H"}};
  Bytes table(layout::nor::kRecordSize * layout::nor::kRecordCount, 0);
  for (size_t r = 0; r + 1 < layout::nor::kRecordCount; ++r) {
    const size_t at = r * layout::nor::kRecordSize;
    const auto& maker = makers[r % 8];
    const uint32_t device = 0x2200 + static_cast<uint32_t>(r);
    putLe16(table, at + layout::nor::kManufacturerId, maker.maker);
    putLe16(table, at + layout::nor::kDeviceId1, device);
    putLe16(table, at + layout::nor::kDeviceId2, 0x2200 | (r % 0x40));
    putLe16(table, at + layout::nor::kDeviceId3, 0x2201);
    putLe32(table, at + layout::nor::kSizeBytes, 1u << (20 + r % 6));
    char name[32];
    std::snprintf(name, sizeof name, "%s_%04X", maker.name, device);
    putName(table, at + layout::nor::kName, layout::nor::kNameLength, name);
  }
  putLe16(table, (layout::nor::kRecordCount - 1) * layout::nor::kRecordSize, layout::kEndMarker);
  return table;
}

struct NandDevice {
  uint16_t maker;
  uint16_t device;
  uint16_t pageSize;
  uint16_t pagesPerBlock;
  uint32_t blocks;
  const char* name;
};

// Known parts first: maker 0xEC's records lead the table. 512-byte pages with
// 32-page (16 KiB) blocks and 2048-byte pages with 64-page (128 KiB) blocks.
const NandDevice kKnownNand[] = {
    {0xEC, 0x76, 512, 32, 4096, "NAND_EC76"},   {0xEC, 0x75, 512, 32, 2048, "NAND_EC75"},
    {0xEC, 0x79, 512, 32, 8192, "NAND_EC79"},   {0xEC, 0x73, 512, 32, 1024, "NAND_EC73"},
    {0xEC, 0x36, 512, 32, 4096, "NAND_EC36"},  {0xEC, 0x35, 512, 32, 2048, "NAND_EC35"},
    {0xEC, 0xF1, 2048, 64, 1024, "NAND_ECF1"},  {0xEC, 0xDA, 2048, 64, 2048, "NAND_ECDA"},
    {0xEC, 0xDC, 2048, 64, 4096, "NAND_ECDC"},  {0xEC, 0xD3, 2048, 64, 8192, "NAND_ECD3"},
    {0xEC, 0xA1, 2048, 64, 1024, "NAND_ECA1"}, {0xEC, 0xAA, 2048, 64, 2048, "NAND_ECAA"},
    {0x98, 0x76, 512, 32, 4096, "NAND_9876"}, {0x98, 0x75, 512, 32, 2048, "NAND_9875"},
    {0x98, 0xF1, 2048, 64, 1024, "NAND_98F1"}, {0x98, 0xDA, 2048, 64, 2048, "NAND_98DA"},
    {0xAD, 0x76, 512, 32, 4096, "NAND_AD76"}, {0xAD, 0xF1, 2048, 64, 1024, "NAND_ADF1"},
    {0xAD, 0xDA, 2048, 64, 2048, "NAND_ADDA"}, {0x2C, 0xF1, 2048, 64, 1024, "NAND_2CF1"},
    {0x2C, 0xDA, 2048, 64, 2048, "NAND_2CDA"}, {0x20, 0x76, 512, 32, 4096, "NAND_2076"},
    {0x20, 0xF1, 2048, 64, 1024, "NAND_20F1"}, {0x20, 0xDA, 2048, 64, 2048, "NAND_20DA"},
};

void putNandRecord(Bytes& table, size_t r, const NandDevice& d) {
  const size_t at = r * layout::nand::kRecordSize;
  putLe16(table, at + layout::nand::kMakerCode, d.maker);
  putLe16(table, at + layout::nand::kDeviceCode, d.device);
  putLe16(table, at + layout::nand::kPageSize, d.pageSize);
  putLe16(table, at + layout::nand::kSpareSize, d.pageSize == 512 ? 16 : 64);
  putLe16(table, at + layout::nand::kPagesPerBlock, d.pagesPerBlock);
  const uint64_t bytes = static_cast<uint64_t>(d.blocks) * d.pagesPerBlock * d.pageSize;
  putLe16(table, at + layout::nand::kAddressCycles, d.pageSize == 512 ? (bytes > (32u << 20) ? 4 : 3)
                                                                    : (bytes > (128u << 20) ? 5 : 4));
  putLe32(table, at + layout::nand::kBlockCount, d.blocks);
  putName(table, at + layout::nand::kName, layout::nand::kNameLength, d.name);
}

Bytes nandTable() {
  Bytes table(layout::nand::kRecordSize * layout::nand::kRecordCount, 0);
  const size_t known = sizeof kKnownNand / sizeof kKnownNand[0];
  for (size_t r = 0; r + 1 < layout::nand::kRecordCount; ++r) {
    if (r < known) {
      putNandRecord(table, r, kKnownNand[r]);
      continue;
    }
    // Further parts of the same families with other densities.
    const NandDevice& base = kKnownNand[r % known];
    char name[24];
    std::snprintf(name, sizeof name, "%s-%02zu", base.name, r);
    const NandDevice variant{base.maker, static_cast<uint16_t>(0x40 + r), base.pageSize, base.pagesPerBlock,
                             base.blocks << (r % 3), name};
    putNandRecord(table, r, variant);
  }
  putLe16(table, (layout::nand::kRecordCount - 1) * layout::nand::kRecordSize, layout::kEndMarker);
  return table;
}

void writeArray(FILE* out, const char* name, const Bytes& bytes) {
  std::fprintf(out, "alignas(4) extern const uint8_t %s[%zu];\nalignas(4) const uint8_t %s[%zu] = {", name,
               bytes.size(), name, bytes.size());
  for (size_t i = 0; i < bytes.size(); ++i) std::fprintf(out, "%s0x%02x,", i % 16 ? "" : "\n", bytes[i]);
  std::fprintf(out, "\n};\n\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s <output.cpp>\n", argv[0]);
    return 2;
  }
  const std::string temp = std::string(argv[1]) + ".tmp";
  FILE* out = std::fopen(temp.c_str(), "w");
  if (!out) return 1;
  std::fprintf(out, "// Generated by generate_agent_blocks at build time. Do not edit.\n#include <cstdint>\n\n");
  std::fprintf(out, "namespace hx::agent {\n\n");
  writeArray(out, "kEmbeddedDa1", agentImage(kDa1Bytes, "HX9120 DA1", 0x40001400));
  writeArray(out, "kEmbeddedDa2", agentImage(kDa2Bytes, "HX9120 DA2", 0x50044000));
  writeArray(out, "kEmbeddedNorTable", norTable());
  writeArray(out, "kEmbeddedNandTable", nandTable());
  std::fprintf(out, "}  // namespace hx::agent\n");
  if (std::fclose(out) != 0 || std::rename(temp.c_str(), argv[1]) != 0) return 1;
  return 0;
}
