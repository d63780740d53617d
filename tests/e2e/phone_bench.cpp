#include "phone_bench.h"

#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <future>
#include <mutex>
#include <stdexcept>
#include <thread>

namespace hxtest {
namespace {
std::atomic<int> g_moduleCopies{0};
}  // namespace

PluggedPhone::PluggedPhone(PortsDir& ports, uint32_t comPort, hxphone::PhoneOptions options, hxphone::NandModel nand)
    : m_ports(ports), m_comPort(comPort), m_phone(std::make_unique<hxphone::VirtualPhone>(std::move(options), std::move(nand))) {}

PluggedPhone::~PluggedPhone() {
  if (m_plugged && !m_finished) {
    m_phone->stop();
    finish();
  }
}

void PluggedPhone::plug() {
  m_pty = std::make_unique<PtyPair>();
  m_ports.plug(m_comPort, m_pty->slavePath());
  m_plugged = true;
  // The phone is unplugged as soon as its power cycle ends, as a real one is:
  // at once when a fault unplugs it, otherwise after a moment in which the
  // host can still read its last answer (a hang-up discards unread bytes).
  m_life = std::thread([this] {
    const hxphone::Outcome outcome = m_phone->run(m_pty->master());
    if (outcome != hxphone::Outcome::Unplugged) std::this_thread::sleep_for(std::chrono::milliseconds(200));
    m_ports.unplug(m_comPort);
    m_pty.reset();  // closing the master is what the host sees as the phone unplugging
  });
}

hxphone::Outcome PluggedPhone::finish() {
  if (m_life.joinable()) m_life.join();
  m_finished = true;
  return m_phone->outcome();
}

hxphone::PhoneOptions phoneFor(const pkgbuild::BuiltPackage& package) {
  const pkgbuild::PackageLayout& layout = package.layout;
  uint32_t lastBlock = 64;
  for (const pkgbuild::FsImageLayout& fs : layout.fsImages) {
    for (const auto& b : fs.mappedBlocks) lastBlock = std::max(lastBlock, b.block);
    for (const auto& b : fs.reservedBlocks) lastBlock = std::max(lastBlock, b.block);
  }
  const uint32_t blockData = layout.geometry.blockDataSize;
  lastBlock = std::max<uint32_t>(lastBlock, static_cast<uint32_t>((layout.fsFormatAreaStart + layout.fsFormatAreaLength) / blockData));
  lastBlock = std::max<uint32_t>(lastBlock, static_cast<uint32_t>((layout.fsAreaStart + layout.fsAreaLength) / blockData));
  const uint32_t blocks = lastBlock + 16;
  hxphone::PhoneOptions options;
  options.geometry = layout.geometry.pageSize == 512 ? hxphone::NandGeometry::smallPage(blocks)
                                                      : hxphone::NandGeometry::largePage(blocks);
  options.nandDevice = layout.geometry.pageSize == 512 ? 0x76 : 0xF1;
  options.timing.silenceLimit = std::chrono::milliseconds(20000);
  options.logSink = [](const std::string&) {};
  return options;
}

std::vector<hxflash::PhoneResult> flashPhones(const std::string& packagePath, std::vector<PluggedPhone*> phones,
                                              double timeScale, ModuleLineFn onModuleLine) {
  // The module reads its package once in its life, and a loaded module stays
  // loaded: each flash loads its own copy of the module file.
  const std::string modulePath = packagePath + ".module-" + std::to_string(++g_moduleCopies) + ".so";
  std::filesystem::copy_file(HXFLASH_DEFAULT_MODULE, modulePath, std::filesystem::copy_options::overwrite_existing);
  hxflash::FlashOptions options;
  options.modulePath = modulePath;
  options.packagePath = packagePath;
  options.timeScale = timeScale;
  options.onModuleLine = std::move(onModuleLine);
  for (PluggedPhone* p : phones) options.comPorts.push_back(p->comPort());
  // The sessions first make sure no earlier phone is still attached: the
  // phones arrive once every session waits for its phone (its package load
  // done), and a moment later, when each wait has seen its port absent.
  std::mutex waitingMutex;
  std::condition_variable waitingChanged;
  size_t waiting = 0;
  options.onWaiting = [&](uint32_t, int phone) {
    if (phone != 1) return;
    std::lock_guard<std::mutex> lock(waitingMutex);
    ++waiting;
    waitingChanged.notify_all();
  };
  hxflash::FlashRun run(options);
  auto flashing = std::async(std::launch::async, [&run] { return run.run(); });
  {
    std::unique_lock<std::mutex> lock(waitingMutex);
    waitingChanged.wait_for(lock, std::chrono::seconds(60), [&] { return waiting == phones.size(); });
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  for (PluggedPhone* p : phones) p->plug();
  if (flashing.wait_for(std::chrono::seconds(120)) != std::future_status::ready) {
    run.abort();
    for (PluggedPhone* p : phones) p->phone().stop();
    flashing.wait();
    throw std::runtime_error("the module did not finish within two minutes");
  }
  // Every session has finished: each phone has reset, or has seen its host go.
  for (PluggedPhone* p : phones) p->finish();
  return flashing.get();
}

PackageFile::PackageFile(const pkgbuild::PackageRecipe& recipe) {
  char templ[] = "/tmp/hxflash-e2e-XXXXXX";
  if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp");
  m_dir = templ;
  m_path = m_dir + "/Firmware.BIN";
  m_built = pkgbuild::writePackage(m_path, recipe);
}

void PackageFile::mutate(const std::function<void(pkgbuild::BuiltPackage&)>& change) {
  change(m_built);
  std::ofstream out(m_path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(m_built.bytes.data()), static_cast<std::streamsize>(m_built.bytes.size()));
  if (!out.flush()) throw std::runtime_error("cannot rewrite " + m_path);
}

PackageFile::~PackageFile() {
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

}  // namespace hxtest
