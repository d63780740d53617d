#pragma once
// How many bytes a download sends to a phone, part by part, read from the
// package; and how far a phone's download has come in them, from what its
// session reports (the module reports only a percentage of the current part).
#include <cstdint>
#include <string>
#include <vector>

#include "host/flash_runner.h"
#include "package/package_records.h"

namespace hxflash {

// The parts of a download in the order the module sends them.
struct TransferPlan {
  uint64_t extBootloader = 0;
  uint64_t bootloader = 0;
  uint64_t romImage = 0;
  uint64_t secondaryRomImage = 0;
  std::vector<uint64_t> fsImages;  // the data blocks of each FS image written (0: skipped)

  uint64_t total() const;
};

// The plan of the package at `path`; an empty plan when it cannot be read
// (the figures then stay at 0, the steps still show).
TransferPlan planTransfer(const std::string& path);
// The plan of a package already read.
TransferPlan planTransfer(const hx::PackageRecords& records);

// Where one phone's download stands in the plan.
class TransferTracker {
 public:
  explicit TransferTracker(const TransferPlan& plan);

  // Takes one report of the phone's session.
  void take(const HostEvent& event);
  uint64_t bytesDone() const;
  uint64_t bytesTotal() const { return m_total; }
  // Share of the whole download, 0 to 100, truncated.
  int percent() const;

 private:
  void enterPart(size_t part);

  std::vector<uint64_t> m_parts;  // ext bootloader, bootloader, image list, ROM, secondary ROM, FS images
  uint64_t m_total = 0;
  size_t m_part = 0;
  uint64_t m_before = 0;    // bytes of the parts before m_part
  int m_partPercent = 0;    // of m_part
  size_t m_fsImagesStarted = 0;
  bool m_complete = false;  // the reset countdown began: everything was sent
};

}  // namespace hxflash
