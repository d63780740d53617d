#include "download/download_sequence.h"

#include <algorithm>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "download/fs_writer.h"
#include "download/image_list.h"
#include "download/nfb_writer.h"
#include "formats/rom_info.h"
#include "package/package_verdict.h"
#include "protocol/agent_commands.h"
#include "protocol/bootloader_upload.h"

namespace hx {
namespace {

// The FS area the FS writer may format: the last entry of the host's RomInfo
// area table. Nothing when the table is empty or reaches past the record.
std::optional<RomInfoArea> fsAreaOf(const uint8_t* romInfo) {
  const uint16_t entries = romInfoAreaCount(romInfo);
  if (entries == 0) return std::nullopt;
  return romInfoArea(romInfo, entries - 1u);
}

// What would make the download fail half-way or drop an image: decided before
// any byte goes to the agent. Empty reason when the download may start.
std::string refusalReason(const DownloadInputs& in, std::optional<RomInfoArea>* fsArea) {
  if (in.images == nullptr || in.package == nullptr) return "no package records";
  const PackageVerdict verdict = judgePackage(*in.package);
  if (!verdict.downloadable) return verdict.reason;
  *fsArea = fsAreaOf(in.images->romInfo);
  if (!*fsArea) return "the ROM information's area table has no usable last entry";
  return {};
}

void readSharedData(Link& link, SessionReport& report) {
  std::vector<uint8_t> buffer(kSharedDataBufferBytes);
  for (uint32_t type : kSharedDataTypes) {
    uint32_t length = kSharedDataBufferBytes;
    if (readBootloaderSharedData(link, type, buffer.data(), buffer.size(), &length) == 0)
      report.log("Bootloader shared data (type = %x) is read\n", type);
    else
      report.log("Failed to read bootloader shared data (type = %x)\n", type);
  }
}

// The FS image records up to the FS image count, as far as they hold the
// package's FS images: the empty records after them (the package held fewer)
// are skipped silently.
int writeFsImages(Link& link, const DownloadInputs& in, const RomInfoArea& fsArea, SessionReport& report) {
  const std::span<const ImageBuffer> images = addressedFsImages(*in.package);
  const size_t count = std::min<size_t>(in.fsImageCount, images.size());
  for (size_t i = 0; i < count; ++i) {
    report.log("Write FS images...\n");
    if (const int rc = writeFsImage(images[i], link, fsArea.start, fsArea.length, report); rc != 0) return rc;
  }
  return 0;
}

}  // namespace

int runDownload(Link& link, const DownloadInputs& in, SessionReport& report) {
  std::optional<RomInfoArea> fsArea;
  if (const std::string why = refusalReason(in, &fsArea); !why.empty()) {
    report.log("Download refused: %s\n", why.c_str());
    report.noteWhy(why);
    return kDownloadRefused;
  }
  const PackageRecords& package = *in.package;
  const SessionImages& images = *in.images;

  report.log("Connecting to DA...\n");
  if (const int rc = connectAgent(link, images.agent.norTable, images.agent.nandTable, report); rc != 0) return rc;
  agentCommandE0(link);
  readSharedData(link, report);

  report.log("Write Boot loader...\n");
  if (const int rc = writeBootloader(link, package.bootloader, package.extBootloader, images.bootloaderInfo, report);
      rc != 0)
    return rc;

  report.log("Send NAND Image List...\n");
  if (const int rc = sendNandImageList(link, package.romImage, package.secondaryRomImage, report); rc != 0)
    return rc;

  report.log("Write NFB images...\n");
  if (const int rc = writeNfbImages(link, package.romImage, package.secondaryRomImage, report); rc != 0) return rc;

  if (const int rc = writeFsImages(link, in, *fsArea, report); rc != 0) return rc;

  report.log("Enable Watch Dog...\n");
  enableWatchdog(link, kWatchdogValue);
  return 0;
}

}  // namespace hx
