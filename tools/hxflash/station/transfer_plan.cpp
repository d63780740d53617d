#include "station/transfer_plan.h"

#include <algorithm>
#include <numeric>

#include "package/fs_image_admission.h"
#include "package/package_records.h"

namespace hxflash {
namespace {

// The parts of TransferTracker::m_parts.
enum Part : size_t {
  kExtBootloaderPart = 0,
  kBootloaderPart = 1,
  kImageListPart = 2,
  kRomPart = 3,
  kSecondaryRomPart = 4,
  kFirstFsPart = 5,
};

// The data blocks the module writes of an FS image: none for an image it
// skips (another FsHeader version) or refuses.
uint64_t fsImageBytes(const hx::ImageBuffer& record) {
  const hx::FsImageAdmission admission = hx::admitFsImage(record);
  if (admission.fate != hx::FsImageFate::kWritten) return 0;
  const hx::FsImageHeader& header = *admission.header;
  return static_cast<uint64_t>(header.table.mappedBlocks().size()) * header.geometry.rawBlockSize;
}

bool isCountdown(const HostEvent& event) {
  return event.code == kNotifyStatus && event.text.starts_with(kCountdownPrefix);
}

}  // namespace

uint64_t TransferPlan::total() const {
  return extBootloader + bootloader + romImage + secondaryRomImage +
         std::accumulate(fsImages.begin(), fsImages.end(), uint64_t{0});
}

TransferPlan planTransfer(const std::string& path) {
  hx::PackageRecords records;
  if (!hx::readPackageFileInto(path, records)) return {};
  return planTransfer(records);
}

TransferPlan planTransfer(const hx::PackageRecords& records) {
  TransferPlan plan;
  if (!records.loaded) return plan;
  plan.extBootloader = records.extBootloader.length;
  plan.bootloader = records.bootloader.length;
  plan.romImage = records.romImage.length;
  plan.secondaryRomImage = records.secondaryRomImage.length;
  for (const hx::ImageBuffer& fs : hx::addressedFsImages(records)) plan.fsImages.push_back(fsImageBytes(fs));
  return plan;
}

TransferTracker::TransferTracker(const TransferPlan& plan)
    : m_parts{plan.extBootloader, plan.bootloader, 0, plan.romImage, plan.secondaryRomImage},
      m_total(plan.total()) {
  m_parts.insert(m_parts.end(), plan.fsImages.begin(), plan.fsImages.end());
}

void TransferTracker::enterPart(size_t part) {
  m_part = std::min(part, m_parts.size());
  m_before = std::accumulate(m_parts.begin(), m_parts.begin() + static_cast<std::ptrdiff_t>(m_part), uint64_t{0});
  m_partPercent = 0;
}

// The statuses that begin a part; the ext bootloader is followed by the
// bootloader within one step, where its percentage starts again.
void TransferTracker::take(const HostEvent& event) {
  if (isCountdown(event)) {
    m_complete = true;
    return;
  }
  if (event.code == kNotifyProgress) {
    const int value = std::clamp(event.value, 0, 100);
    if (m_part == kExtBootloaderPart && value < m_partPercent) enterPart(kBootloaderPart);
    m_partPercent = std::max(m_partPercent, value);
    return;
  }
  if (event.code != kNotifyStatus) return;
  const std::string& t = event.text;
  if (t == "Send ext Bootloader") enterPart(kExtBootloaderPart);
  else if (t == "Write Bootloader Complete" || t == "Start Send NAND image list") enterPart(kImageListPart);
  else if (t == "Send ROM Image") enterPart(kRomPart);
  else if (t == "Send Secondary ROM Image") enterPart(kSecondaryRomPart);
  else if (t == "Write NFB Image Complete") enterPart(kFirstFsPart);
  else if (t == "Start Write FS Image") enterPart(kFirstFsPart + m_fsImagesStarted++);
}

uint64_t TransferTracker::bytesDone() const {
  if (m_complete) return m_total;
  const uint64_t part = m_part < m_parts.size() ? m_parts[m_part] : 0;
  return std::min(m_total, m_before + part * static_cast<uint64_t>(m_partPercent) / 100);
}

int TransferTracker::percent() const {
  if (m_complete) return 100;
  if (m_total == 0) return 0;
  return static_cast<int>(static_cast<double>(bytesDone()) / static_cast<double>(m_total) * 100.0);
}

}  // namespace hxflash
