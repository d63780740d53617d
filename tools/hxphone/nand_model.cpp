#include "hxphone/nand_model.h"

#include <bit>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace hxphone {

namespace {

// Programming can only clear bits: each byte becomes itself AND the new one.
// Eight bytes at a time.
void programBytes(uint8_t* cells, const uint8_t* bytes, size_t n) {
  size_t i = 0;
  for (; i + 8 <= n; i += 8) {
    uint64_t cell, byte;
    std::memcpy(&cell, cells + i, sizeof cell);
    std::memcpy(&byte, bytes + i, sizeof byte);
    cell &= byte;
    std::memcpy(cells + i, &cell, sizeof cell);
  }
  for (; i < n; ++i) cells[i] &= bytes[i];
}

}  // namespace

NandGeometry NandGeometry::smallPage(uint32_t blocks) { return {512, 16, 32, blocks}; }
NandGeometry NandGeometry::largePage(uint32_t blocks) { return {2048, 64, 64, blocks}; }

bool NandGeometry::valid() const {
  bool small = pageSize == 512 && spareSize == 16 && pagesPerBlock == 32;
  bool large = pageSize == 2048 && spareSize == 64 && pagesPerBlock == 64;
  return (small || large) && blockCount >= 16 && blockCount <= (1u << 20);
}

NandModel::NandModel(NandGeometry geometry) : m_geometry(geometry), m_blocks(geometry.blockCount) {
  if (!geometry.valid()) throw std::invalid_argument("unsupported NAND geometry");
}

void NandModel::checkBlock(uint32_t block) const {
  if (block >= m_geometry.blockCount)
    throw std::out_of_range("NAND block " + std::to_string(block) + " beyond the device's " +
                            std::to_string(m_geometry.blockCount) + " blocks");
}

uint8_t* NandModel::writableBlock(uint32_t block) {
  checkBlock(block);
  auto& b = m_blocks[block];
  if (!b) {
    b = std::make_unique_for_overwrite<uint8_t[]>(m_geometry.rawBlockSize());
    std::memset(b.get(), 0xFF, m_geometry.rawBlockSize());
  }
  return b.get();
}

void NandModel::readPage(uint32_t block, uint32_t page, uint8_t* data, uint8_t* spare) const {
  checkBlock(block);
  const auto& b = m_blocks[block];
  if (!b) {
    if (data) std::memset(data, 0xFF, m_geometry.pageSize);
    if (spare) std::memset(spare, 0xFF, m_geometry.spareSize);
    return;
  }
  const uint8_t* p = b.get() + size_t{page} * m_geometry.rawPageSize();
  if (data) std::memcpy(data, p, m_geometry.pageSize);
  if (spare) std::memcpy(spare, p + m_geometry.pageSize, m_geometry.spareSize);
}

bool NandModel::programPage(uint32_t block, uint32_t page, const uint8_t* data, const uint8_t* spare) {
  checkBlock(block);
  if (page >= m_geometry.pagesPerBlock) throw std::out_of_range("page beyond the block");
  if (m_failing.count(block)) {
    m_failing.erase(block);
    m_bad.insert(block);
    writeMarkers(block);
    return false;
  }
  uint8_t* p = writableBlock(block) + size_t{page} * m_geometry.rawPageSize();
  programBytes(p, data, m_geometry.pageSize);
  if (spare) programBytes(p + m_geometry.pageSize, spare, m_geometry.spareSize);
  return true;
}

void NandModel::eraseBlock(uint32_t block) {
  checkBlock(block);
  if (m_bad.count(block)) return;
  m_blocks[block].reset();
}

void NandModel::writeMarkers(uint32_t block) {
  uint8_t* b = writableBlock(block);
  for (uint32_t page = 0; page < 2; ++page) {
    uint8_t* spare = b + size_t{page} * m_geometry.rawPageSize() + m_geometry.pageSize;
    if (m_geometry.pageSize == 512) {
      spare[5] = 0x00;
    } else {
      spare[0] = 0x00;
      spare[1] = 0x00;
    }
  }
}

void NandModel::markFactoryBad(uint32_t block) {
  checkBlock(block);
  m_bad.insert(block);
  writeMarkers(block);
}

void NandModel::setFailsWhenProgrammed(uint32_t block) {
  checkBlock(block);
  m_failing.insert(block);
}

std::vector<uint8_t> NandModel::rawBlock(uint32_t block) const {
  checkBlock(block);
  std::vector<uint8_t> raw(m_geometry.rawBlockSize(), 0xFF);
  if (m_blocks[block]) std::memcpy(raw.data(), m_blocks[block].get(), raw.size());
  return raw;
}

void NandModel::storeRawBlock(uint32_t block, std::span<const uint8_t> raw) {
  if (raw.size() != m_geometry.rawBlockSize()) throw std::invalid_argument("raw block of the wrong size");
  std::memcpy(writableBlock(block), raw.data(), raw.size());
  if (rawBlockMarkedBad(raw, m_geometry)) m_bad.insert(block);
}

bool NandModel::rawBlockMarkedBad(std::span<const uint8_t> raw, const NandGeometry& g) {
  auto bad = [](uint8_t marker) { return std::popcount(marker) < 7; };
  if (raw.size() < 2 * size_t{g.rawPageSize()}) return false;
  for (uint32_t page = 0; page < 2; ++page) {
    const uint8_t* spare = raw.data() + size_t{page} * g.rawPageSize() + g.pageSize;
    if (g.pageSize == 512 && bad(spare[5])) return true;
    if (g.pageSize == 2048 && (bad(spare[0]) || bad(spare[1]))) return true;
  }
  return false;
}

void NandModel::writeDump(const std::string& path) const {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write the NAND dump " + path);
  std::vector<uint8_t> erased(m_geometry.rawBlockSize(), 0xFF);
  for (uint32_t block = 0; block < m_geometry.blockCount; ++block) {
    const uint8_t* bytes = m_blocks[block] ? m_blocks[block].get() : erased.data();
    out.write(reinterpret_cast<const char*>(bytes), m_geometry.rawBlockSize());
  }
  if (!out) throw std::runtime_error("writing the NAND dump " + path + " failed");
}

NandModel NandModel::readDump(const std::string& path, NandGeometry geometry) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read the NAND dump " + path);
  in.seekg(0, std::ios::end);
  auto size = static_cast<uint64_t>(in.tellg());
  in.seekg(0);
  if (size == 0 || size % geometry.rawBlockSize() != 0)
    throw std::runtime_error("NAND dump " + path + " is not a whole number of raw blocks");
  geometry.blockCount = static_cast<uint32_t>(size / geometry.rawBlockSize());
  NandModel nand(geometry);
  std::vector<uint8_t> raw(geometry.rawBlockSize());
  for (uint32_t block = 0; block < geometry.blockCount; ++block) {
    in.read(reinterpret_cast<char*>(raw.data()), raw.size());
    if (!in) throw std::runtime_error("NAND dump " + path + " ended early");
    bool erased = true;
    for (uint8_t b : raw)
      if (b != 0xFF) {
        erased = false;
        break;
      }
    if (!erased) nand.storeRawBlock(block, raw);
  }
  return nand;
}

}  // namespace hxphone
