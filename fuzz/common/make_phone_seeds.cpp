// Records what a virtual phone answers in each conversation the phone-answer
// fuzz targets replay, and writes each as the seed of its target's corpus:
//   make_phone_seeds FUZZ_DIR    (writes FUZZ_DIR/<target>/corpus/seed-*)
// The host side is the module's own steps over its serial link, on a pty
// whose other end the phone serves; the host sends what the targets send.
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "download/image_list.h"
#include "download/nfb_writer.h"
#include "download/fs_writer.h"
#include "fuzz_inputs.h"
#include "hxphone/virtual_phone.h"
#include "protocol/agent_commands.h"
#include "protocol/bootloader_upload.h"
#include "protocol/bootrom.h"
#include "platform/log.h"
#include "link/serial_link.h"

namespace {

constexpr uint32_t kComPort = 99;

// Passes everything through to the serial link and keeps what the phone sent
// since the last take().
class RecordingLink final : public hx::Link {
 public:
  explicit RecordingLink(hx::Link& link) : m_link(link) {}
  int write(const uint8_t* bytes, size_t n) override { return m_link.write(bytes, n); }
  int read(uint8_t* dest, size_t n, size_t* got) override {
    const int rc = m_link.read(dest, n, got);
    m_answers.insert(m_answers.end(), dest, dest + *got);
    return rc;
  }
  int setTimeouts(uint32_t readMs, uint32_t writeMs) override { return m_link.setTimeouts(readMs, writeMs); }
  std::vector<uint8_t> take() { return std::exchange(m_answers, {}); }

 private:
  hx::Link& m_link;
  std::vector<uint8_t> m_answers;
};

void writeSeed(const std::string& fuzzDir, const std::string& target, const std::vector<uint8_t>& bytes) {
  const std::filesystem::path dir = std::filesystem::path(fuzzDir) / target / "corpus";
  std::filesystem::create_directories(dir);
  std::ofstream out(dir / "seed-phone", std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  std::printf("%s: %zu bytes\n", target.c_str(), bytes.size());
}

bool check(int rc, const char* step) {
  if (rc != 0) std::fprintf(stderr, "%s failed with %d\n", step, rc);
  return rc == 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FUZZ_DIR\n", argv[0]);
    return 2;
  }
  const std::string fuzzDir = argv[1];
  hx::setLogSink([](unsigned, int, std::string_view) {});
  const hxfuzz::HostInputs& in = hxfuzz::hostInputs();
  // The FS image checks start from the package's own image, on a blank phone
  // and on one holding its info block.
  const hx::ImageBuffer& fs = in.package.fsImages[0];
  for (const uint8_t phoneState : {0, 1}) {
    std::vector<uint8_t> seed{phoneState};
    seed.insert(seed.end(), fs.data, fs.data + fs.length);
    const std::filesystem::path dir = std::filesystem::path(fuzzDir) / "fs_image_checks" / "corpus";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / ("seed-image-" + std::to_string(phoneState)), std::ios::binary)
        .write(reinterpret_cast<const char*>(seed.data()), static_cast<std::streamsize>(seed.size()));
  }

  // The phone on the pty's master; the slave is COM99 of a private ports directory.
  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) return 1;
  char portsDir[] = "/tmp/hx-fuzz-seeds-XXXXXX";
  if (!mkdtemp(portsDir)) return 1;
  const std::string entry = std::string(portsDir) + "/com" + std::to_string(kComPort);
  std::filesystem::create_symlink(ptsname(master), entry);
  setenv("HXFLASH_PORTS_DIR", portsDir, 1);

  hxphone::PhoneOptions options;
  options.geometry = hxphone::NandGeometry::smallPage(1024);
  options.nandDevice = 0x76;
  options.logSink = [](const std::string&) {};
  hxphone::VirtualPhone phone(options, hxphone::freshNand(options));
  phone.start(master);

  std::string why;
  std::unique_ptr<hx::Link> serial = hx::openSerialLink(kComPort, 19200, &why);
  if (!serial) {
    std::fprintf(stderr, "cannot open the phone's port: %s\n", why.c_str());
    return 1;
  }
  RecordingLink link(*serial);
  const hx::SessionImages& images = in.images;
  const hx::PackageRecords& package = in.package;
  bool ok = check(hx::connectBootRom(link, images.agent.da1, images.agent.da2, hxfuzz::quietReport()), "BootROM connection");
  if (ok) writeSeed(fuzzDir, "bootrom_connect", link.take());
  ok = ok && check(hx::connectAgent(link, images.agent.norTable, images.agent.nandTable, hxfuzz::quietReport()),
                   "agent connection");
  if (ok) writeSeed(fuzzDir, "agent_connect", link.take());
  if (ok) {
    hx::agentCommandE0(link);
    std::vector<uint8_t> shared(0x10000);
    for (uint32_t type : {0x10000u, 0x10001u, 0x10002u, 0x10003u}) {
      uint32_t length = 0;
      hx::readBootloaderSharedData(link, type, shared.data(), shared.size(), &length);
    }
    link.take();
  }
  ok = ok && check(hx::writeBootloader(link, package.bootloader, package.extBootloader, images.bootloaderInfo,
                                       hxfuzz::quietReport()),
                   "bootloader write");
  if (ok) writeSeed(fuzzDir, "bootloader_write", link.take());
  ok = ok && check(hx::sendNandImageList(link, package.romImage, package.secondaryRomImage, hxfuzz::quietReport()),
                   "image list") &&
       check(hx::writeNfbImages(link, package.romImage, package.secondaryRomImage, hxfuzz::quietReport()), "NFB images");
  link.take();
  ok = ok && check(hx::writeFsImage(package.fsImages[0], link, in.fsAreaStart, in.fsAreaLength, hxfuzz::quietReport()),
                   "FS image");
  if (ok) writeSeed(fuzzDir, "fs_image_download", link.take());
  std::vector<uint8_t> block(16384);
  ok = ok && check(hx::readBack(link, 2 * 16384, 16384, hx::kReadBackDataOnly, block.data(), block.size()), "read-back");
  if (ok) writeSeed(fuzzDir, "read_back", link.take());
  hx::enableWatchdog(link, 64);
  serial.reset();
  phone.stop();
  phone.wait();
  std::filesystem::remove_all(portsDir);
  return ok ? 0 : 1;
}
