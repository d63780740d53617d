#include "plugin/biz_download.h"

#include <cstdio>

#include "platform/clock.h"
#include "platform/log.h"

namespace hx {
namespace {
constexpr uint32_t kProtocolBaud = 19200;
constexpr uint32_t kPollMs = 10;
}  // namespace

CBizDownload::CBizDownload(int portIndex) : m_portIndex(portIndex), m_comPort(portIndex + kComPortBase) {}

CBizDownload::~CBizDownload() = default;

void* CBizDownload::DeletingDestructor(unsigned flags) {
  if (flags & 1) {
    delete this;
  } else {
    this->~CBizDownload();
  }
  return this;
}

int CBizDownload::Init(int) {
  try {
    m_stopRequested.store(0);
    m_timerRunning.store(0);
    m_controller.clearCancel();
    m_controller.setOwner(this);
    m_controller.Init();
    return 1;
  } catch (...) {
    return 0;
  }
}

// Phase A: a phone still attached from an earlier download (its port still
// opens) must first disappear. Said once per wait, with its end: a host can
// tell its operator, and cannot see it otherwise without opening the port.
void CBizDownload::waitUntilPortAbsent() {
  bool told = false;
  while (m_stopRequested.load() == 0) {
    if (m_controller.portPresent(static_cast<uint32_t>(m_comPort))) {
      if (!told) logMessageFor(static_cast<unsigned>(m_comPort), "COM%d: %s\n", m_comPort, kStillAttachedLine);
      told = true;
      sleepMs(kPollMs);
      continue;
    }
    if (told) logMessageFor(static_cast<unsigned>(m_comPort), "COM%d: %s\n", m_comPort, kGoneLine);
    return;
  }
}

// Phase B: wait until the port comes back, open it and connect.
void CBizDownload::waitForPortAndConnect() {
  while (m_stopRequested.load() == 0) {
    if (m_controller.openPort(kProtocolBaud, static_cast<uint32_t>(m_comPort)) == 0) {
      if (m_controller.Connect() != 0) return;
    }
    sleepMs(kPollMs);
  }
}

int CBizDownload::WaitAndConnect() {
  try {
    waitUntilPortAbsent();
    waitForPortAndConnect();
    Report(kNotifyConnected, 0, "");
    return 1;
  } catch (...) {
    return 0;
  }
}

int CBizDownload::CheckOption(int option, int) { return option == 0 || option == 1 || option == 3 ? 1 : 0; }

int CBizDownload::Download() {
  try {
    if (!m_controller.Download()) return 0;
    char text[64];
    for (int left = kCountdownSeconds; left >= 1; --left) {
      std::snprintf(text, sizeof text, "Waiting for Reset %d sec..", left);
      Report(kNotifyStatus, 100, text);
      sleepMs(1000);
    }
    return 1;
  } catch (...) {
    return 0;
  }
}

int CBizDownload::Abort() {
  m_stopRequested.store(1);
  m_controller.requestCancel();
  return 1;
}

int CBizDownload::TimerControl(int command) {
  switch (command) {
    case 0:
      m_timerStart.store(tickCount());
      m_timerRunning.store(1);
      return 1;
    case 1:
      m_timerRunning.store(0);
      return 1;
    default:
      return 0;
  }
}

// The host's callback object is only a table of three slots (a host written in
// C builds it as a plain struct): it carries no type information, so the
// sanitizer's dynamic-type check does not apply to these calls.
__attribute__((no_sanitize("vptr"))) int CBizDownload::Report(int code, int value, const char* text) {
  if (!m_hostCallback) return 0;
  return m_hostCallback->Notify(code, value, text ? text : "");
}

__attribute__((no_sanitize("vptr"))) int CBizDownload::ReportAlt(int code, int value, const char* text) {
  if (!m_hostCallback) return 0;
  return m_hostCallback->NotifyAlt(code, value, text ? text : "");
}

}  // namespace hx
