#pragma once
// The download agent's NAND commands as the NAND writers use them: read-back,
// format, write-block and write-pages. The agent on a link is the one
// implementation the module runs; the writers see only this interface.
#include <cstddef>
#include <cstdint>

#include "protocol/agent_commands.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

class NandAgent {
 public:
  virtual ~NandAgent() = default;
  virtual int readBack(uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity) = 0;
  virtual int formatRange(FormatFlags flags, uint32_t start, uint32_t length) = 0;
  virtual int writeBlock(uint32_t block, const BlockPages& pages, uint16_t checksum) = 0;
  virtual int writePages(uint32_t block, const uint32_t* pageIndexes, uint32_t pageCount,
                         const BlockPages& pages) = 0;
};

class LinkNandAgent final : public NandAgent {
 public:
  LinkNandAgent(Link& link, SessionReport& report) : m_link(link), m_report(report) {}
  int readBack(uint32_t address, uint32_t length, uint8_t mode, uint8_t* dest, size_t capacity) override {
    return hx::readBack(m_link, address, length, mode, dest, capacity);
  }
  int formatRange(FormatFlags flags, uint32_t start, uint32_t length) override {
    return hx::formatRange(m_link, flags, start, length);
  }
  int writeBlock(uint32_t block, const BlockPages& pages, uint16_t checksum) override {
    return hx::writeBlock(m_link, block, pages, checksum, m_report);
  }
  int writePages(uint32_t block, const uint32_t* pageIndexes, uint32_t pageCount, const BlockPages& pages) override {
    return hx::writePages(m_link, block, pageIndexes, pageCount, pages, m_report);
  }

 private:
  Link& m_link;
  SessionReport& m_report;
};

}  // namespace hx
