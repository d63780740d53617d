#include "plugin/engine_class.h"

#include <atomic>

#include "download/failure_sentence.h"
#include "package/package_records.h"
#include "plugin/event_bridge.h"
#include "plugin/module_state.h"
#include "plugin/session_reporting.h"
#include "protocol/bootrom.h"

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
  m_connection = {};
  return kLinkOk;
}

int CEngineClass::Connect() {
  registerController(m_comPortNumber, this);
  Link* link = currentLink();
  if (!link) return 1;
  SessionReporting report(m_comPortNumber);
  m_connection.result = m_steps->connect(*link, m_images, report);
  if (m_connection.result == 0) return 1;
  if (link->cancelled()) {
    m_connection.why = "the BootROM handshake was stopped before the phone answered";
    report.log("COM%u: BootROM handshake stopped: the wait for the phone was ended\n", m_comPortNumber);
    return 1;
  }
  const std::string step = report.lastStep();
  m_connection.why = "the BootROM connection failed" + (step.empty() ? std::string() : " in \"" + step + "\"");
  const FailureFacts facts{.code = m_connection.result, .step = step, .link = link->cause()};
  report.log("COM%u: %s\n", m_comPortNumber, failureSentence("BootROM connection failed", facts).c_str());
  return 1;
}

int CEngineClass::Download() {
  SessionReporting report(m_comPortNumber);
  Link* link = currentLink();
  FailureFacts failure;
  if (!link) {
    failure = {.code = kLinkFailed, .why = "no phone is connected"};
  } else if (m_connection.stoppedBeforeTheAgent()) {
    // No agent can be running: nothing is sent or read.
    failure = {.code = m_connection.result, .why = m_connection.why, .link = link->cause()};
  } else {
    const DownloadInputs inputs{
        .images = &m_images, .package = &packageRecords(), .fsImageCount = packageRecords().fsImageCount};
    failure.code = m_steps->download(*link, inputs, report);
    failure.step = report.lastStatus();
    failure.why = report.why();
    failure.link = link->cause();
  }
  // The link is closed whatever the outcome: otherwise the session would hold
  // the port, and its next wait would reconnect to the same phone.
  closePort();
  if (failure.code == 0) return 1;
  const std::string port = "COM" + std::to_string(m_comPortNumber);
  report.line(failure.code, port + ": " + failureSentence("download failed", failure));
  return 0;
}

Link* CEngineClass::currentLink() const {
  std::lock_guard<std::mutex> lock(m_linkMutex);
  return m_link.get();
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
