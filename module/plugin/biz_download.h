#pragma once
// The download session: one phone on one COM port, driven by the host
// through the seven slots of CInterfaceTemplate.
#include <atomic>
#include <cstdint>

#include "plugin/engine_class.h"
#include "plugin/interface_template.h"

namespace hx {

// Still abstract: the six operations stay pure.
class CDllInterface : public CInterfaceTemplate {
 public:
  CDllInterface() = default;
  CDllInterface(const CDllInterface&) = delete;
  CDllInterface& operator=(const CDllInterface&) = delete;

  void attachHostCallback(CHostCallback* callback) { m_hostCallback = callback; }

 protected:
  ~CDllInterface() {
    m_stopRequested.store(1);
    m_hostCallback = nullptr;
  }

  // 1 from construction until Init, 0 after Init, 1 again after Abort. Written
  // by Abort on one thread and polled by the waiting thread.
  std::atomic<int> m_stopRequested{1};
  CHostCallback* m_hostCallback = nullptr;  // the host's; not owned
};

class CBizDownload final : public CDllInterface {
 public:
  // COM port numbers travel as one byte: ports 0..215 give COM40..COM255.
  static constexpr int kComPortBase = 40;
  static constexpr int kMaxPortIndex = 255 - kComPortBase;
  static constexpr int kCountdownSeconds = 80;

  explicit CBizDownload(int portIndex);
  ~CBizDownload();

  void* DeletingDestructor(unsigned flags) override;
  int Init(int reserved) override;
  int WaitAndConnect() override;
  int CheckOption(int option, int reserved) override;
  int Download() override;
  int Abort() override;
  int TimerControl(int command) override;

  // Forward to the host's Notify / NotifyAlt; 0 without a host callback.
  int Report(int code, int value, const char* text);
  int ReportAlt(int code, int value, const char* text);

  int comPort() const { return m_comPort; }
  bool timerRunning() const { return m_timerRunning.load() != 0; }
  uint32_t timerStart() const { return m_timerStart.load(); }
  CEngineClassEx<CBizDownload*>& controller() { return m_controller; }

 private:
  void waitUntilPortAbsent();
  void waitForPortAndConnect();

  int m_portIndex;
  int m_comPort;
  std::atomic<uint32_t> m_timerStart{0};
  std::atomic<int> m_timerRunning{0};
  CEngineClassEx<CBizDownload*> m_controller;
};

}  // namespace hx
