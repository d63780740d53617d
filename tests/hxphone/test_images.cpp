#include "test_images.h"

#include <cstring>
#include <string>

namespace hxphone::test {

namespace {
void putLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void putLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}
}  // namespace

Bytes patternBytes(size_t n, uint32_t seed) {
  Bytes b(n);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& v : b) {
    x = x * 1103515245u + 12345u;
    v = static_cast<uint8_t>(x >> 16);
  }
  return b;
}

Bytes da1Image() { return patternBytes(82808, 1); }
Bytes da2Image() { return patternBytes(7492, 2); }

Bytes norTable() {
  Bytes t(209 * 36, 0);
  for (size_t i = 0; i < 209; ++i) {
    uint8_t* r = t.data() + i * 36;
    putLe16(r, static_cast<uint16_t>(0x0001 + i));
    putLe16(r + 2, static_cast<uint16_t>(0x2200 + i));
  }
  putLe16(t.data() + 208 * 36, 0xFFFF);
  return t;
}

Bytes nandTable() {
  Bytes t(106 * 52, 0);
  for (size_t i = 0; i < 106; ++i) {
    uint8_t* r = t.data() + i * 52;
    putLe16(r, 0xEC);
    putLe16(r + 2, static_cast<uint16_t>(0x30 + i));
    putLe16(r + 4, 2048);
    putLe16(r + 6, 64);
    putLe16(r + 8, 64);
    putLe32(r + 12, 1024);
  }
  uint8_t* large = t.data() + kLargePageRecord * 52;
  putLe16(large + 2, 0xF1);
  uint8_t* small = t.data() + kSmallPageRecord * 52;
  putLe16(small + 2, 0x76);
  putLe16(small + 4, 512);
  putLe16(small + 6, 16);
  putLe16(small + 8, 32);
  putLe32(small + 12, 4096);
  putLe16(t.data() + 105 * 52, 0xFFFF);
  return t;
}

Bytes bootloaderImage(size_t length, uint32_t seed) {
  Bytes b = patternBytes(length, 7);
  const uint32_t recordLength = 136;
  uint8_t* record = b.data() + length - 4 - recordLength;
  std::memset(record, 0, recordLength);
  std::memcpy(record, "MTK_BLOADER_INFO_v03", 20);
  record[88] = 0x11;
  record[89] = 0x22;
  record[90] = 0x33;
  record[91] = 0x44;
  putLe32(record + 92, seed);
  putLe32(record + 96, 0xCAFEF00D);
  putLe32(b.data() + length - 4, recordLength);
  return b;
}

Bytes primaryRomImage(size_t length, size_t recordOffset) {
  Bytes b = patternBytes(length, 11);
  std::memcpy(b.data() + recordOffset, "MTK_ROMINFO_v05", 15);
  return b;
}

PhoneOptions largePagePhone() {
  PhoneOptions o;
  o.name = "test-phone";
  o.geometry = NandGeometry::largePage(64);
  o.nandMaker = 0xEC;
  o.nandDevice = 0xF1;
  o.timing.silenceLimit = std::chrono::milliseconds(5000);
  return o;
}

PhoneOptions smallPagePhone() {
  PhoneOptions o = largePagePhone();
  o.geometry = NandGeometry::smallPage(256);
  o.nandDevice = 0x76;
  return o;
}

}  // namespace hxphone::test
