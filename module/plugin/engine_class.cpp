#include "plugin/engine_class.h"

#include <atomic>

#include "download/result_texts.h"
#include "package/package_records.h"
#include "platform/log.h"
#include "plugin/event_bridge.h"
#include "plugin/module_state.h"
#include "protocol/engine_events.h"

namespace hx {
namespace {
std::atomic<int> g_packageLoaded{0};
}  // namespace

int LoadPackageOnce() {
  const std::string path = packagePath();
  std::lock_guard<CCriticalSection> lock(packageLock());
  if (g_packageLoaded.load() == 0) {
    PackageRecords& records = packageRecords();
    loadPackage(path, records);
    records.fsImageCount = kFsImageAddresses;
    g_packageLoaded.store(1);
  }
  return 1;
}

bool packageLoadAttempted() { return g_packageLoaded.load() != 0; }

// Constructing a controller leaves every module-wide record as it is: the
// package is loaded once, and every later session needs its bootloader too.
CEngineClass::CEngineClass() : m_steps(realEngineSteps()) {}

CEngineClass::~CEngineClass() {
  unregisterController(this);
  closePort();
}

void CEngineClass::Init() {
  LoadPackageOnce();
  prepareAgentImages(packageRecords(), m_images);
}

int CEngineClass::openPort(uint32_t baud, uint32_t comPort) {
  closePort();
  std::string why;
  std::unique_ptr<Link> link = m_steps->openLink(comPort, baud, &why);
  if (!link) return kLinkFailed;
  std::lock_guard<std::mutex> lock(m_linkMutex);
  if (m_cancelRequested) link->cancel();
  m_link = std::move(link);
  m_comPortNumber = comPort;
  return kLinkOk;
}

int CEngineClass::Connect() {
  registerController(m_comPortNumber, this);
  Link* link = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    link = m_link.get();
  }
  const int result = link ? m_steps->connect(*link, m_images) : 0;
  if (result != 0) logMessage("COM%u: BootROM connection failed (%d: %s)\n", m_comPortNumber, result, resultText(result));
  return 1;
}

int CEngineClass::Download() {
  setEngineEventCallback(&EngineEventProc);
  DownloadInputs inputs;
  inputs.images = &m_images;
  inputs.package = &packageRecords();
  inputs.fsImageCount = packageRecords().fsImageCount;
  inputs.eventKey = m_comPortNumber;
  Link* link = nullptr;
  {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    link = m_link.get();
  }
  const int result = m_steps->download(link, inputs);
  // The link is closed whatever the outcome: otherwise the session would hold
  // the port, and its next wait would reconnect to the same phone.
  closePort();
  if (result != 0) logMessage("COM%u: download failed (%d: %s)\n", m_comPortNumber, result, resultText(result));
  return result == 0 ? 1 : 0;
}

void CEngineClass::requestCancel() {
  std::lock_guard<std::mutex> lock(m_linkMutex);
  m_cancelRequested = true;
  if (m_link) m_link->cancel();
}

void CEngineClass::clearCancel() {
  std::lock_guard<std::mutex> lock(m_linkMutex);
  m_cancelRequested = false;
  if (m_link) m_link->resetCancel();
}

void CEngineClass::closePort() {
  std::unique_ptr<Link> link;
  {
    std::lock_guard<std::mutex> lock(m_linkMutex);
    link = std::move(m_link);
  }
}

bool CEngineClass::portOpen() const {
  std::lock_guard<std::mutex> lock(m_linkMutex);
  return m_link != nullptr;
}

}  // namespace hx
