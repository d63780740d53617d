#pragma once
// Layout of the flash-device table records that the host sends to the download
// agent record by record. The module's block generator and the virtual phone
// both use this header, and nothing else of each other.
//
// All numbers inside a record are little-endian. The last record of each table
// begins with the 16-bit value 0xFFFF and is sent like any other record.
#include <cstddef>
#include <cstdint>

namespace hx::agent_table {

inline constexpr uint16_t kEndMarker = 0xFFFF;

// NOR flash device table: 36-byte records identified by 16-bit codes.
namespace nor {
inline constexpr size_t kRecordSize = 36;
inline constexpr size_t kRecordCount = 209;
inline constexpr size_t kManufacturerId = 0;  // u16; 0xFFFF in the last record
inline constexpr size_t kDeviceId1 = 2;       // u16
inline constexpr size_t kDeviceId2 = 4;       // u16
inline constexpr size_t kDeviceId3 = 6;       // u16
inline constexpr size_t kSizeBytes = 8;       // u32: device size
inline constexpr size_t kName = 12;           // 24 bytes, NUL-padded
inline constexpr size_t kNameLength = 24;
}  // namespace nor

// NAND flash device table: 52-byte records.
namespace nand {
inline constexpr size_t kRecordSize = 52;
inline constexpr size_t kRecordCount = 106;
inline constexpr size_t kMakerCode = 0;      // u16; 0xFFFF in the last record
inline constexpr size_t kDeviceCode = 2;     // u16
inline constexpr size_t kPageSize = 4;       // u16: 512 or 2048
inline constexpr size_t kSpareSize = 6;      // u16: 16 or 64
inline constexpr size_t kPagesPerBlock = 8;  // u16
inline constexpr size_t kAddressCycles = 10; // u16
inline constexpr size_t kBlockCount = 12;    // u32
inline constexpr size_t kName = 16;          // 24 bytes, NUL-padded
inline constexpr size_t kNameLength = 24;
// Bytes 40..51 are reserved and zero.
}  // namespace nand

inline uint16_t readLe16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t readLe32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
         static_cast<uint32_t>(p[3]) << 24;
}

}  // namespace hx::agent_table
