#include "flash_runner.h"

#include <chrono>
#include <stdexcept>
#include <thread>
#include <utility>

#include "module_loader.h"

namespace hxflash {
namespace {

constexpr int kComPortBase = 40;

// The host callback of one port: records what the module reports.
class PortCallback final : public CHostCallback {
 public:
  PortCallback(uint32_t comPort, const std::function<void(uint32_t, const HostEvent&)>& onEvent)
      : m_comPort(comPort), m_onEvent(onEvent) {}

  int Reserved0() override { return 0; }
  int Notify(int code, int value, const char* text) override {
    HostEvent event{code, value, text ? text : ""};
    {
      std::lock_guard<std::mutex> lock(m_mutex);
      m_events.push_back(event);
    }
    if (m_onEvent) m_onEvent(m_comPort, event);
    return 1;
  }
  int NotifyAlt(int code, int value, const char* text) override { return Notify(code, value, text); }

  std::vector<HostEvent> take() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return std::exchange(m_events, {});
  }

 private:
  uint32_t m_comPort;
  const std::function<void(uint32_t, const HostEvent&)>& m_onEvent;
  std::mutex m_mutex;
  std::vector<HostEvent> m_events;
};

}  // namespace

FlashRun::FlashRun(FlashOptions options) : m_options(std::move(options)) {}

std::vector<PhoneResult> FlashRun::run() {
  LoadedModule module(m_options.modulePath);
  const ModuleExports& dll = module.exports();
  if (m_options.timeScale != 1.0) {
    if (!dll.SetTimeScale || !dll.SetTimeScale(m_options.timeScale))
      throw std::runtime_error("the module refused the time scale");
  }
  dll.PreviousLoad(m_options.packagePath.c_str());

  struct Port {
    uint32_t comPort;
    std::unique_ptr<PortCallback> callback;
    CInterfaceTemplate* session = nullptr;
    std::vector<PhoneResult> results;
  };
  std::vector<Port> ports;
  for (uint32_t com : m_options.comPorts) {
    if (com < kComPortBase || com > 255) throw std::runtime_error("COM" + std::to_string(com) + " is outside COM40..COM255");
    Port port{com, std::make_unique<PortCallback>(com, m_options.onEvent)};
    if (!dll.NewDll(port.callback.get(), &port.session, static_cast<int>(com) - kComPortBase)) {
      for (Port& p : ports) dll.DeleteDll(&p.session);
      throw std::runtime_error("the module refused a session on COM" + std::to_string(com));
    }
    ports.push_back(std::move(port));
  }

  auto flashPort = [&](Port& port) {
    CInterfaceTemplate* s = port.session;
    s->Init(0);
    for (int phone = 1; phone <= m_options.phonesPerPort && !m_abort.load(); ++phone) {
      PhoneResult result;
      result.comPort = port.comPort;
      result.phone = phone;
      s->WaitAndConnect();
      result.connected = !m_abort.load();
      if (result.connected) {
        const auto start = std::chrono::steady_clock::now();
        result.succeeded = s->Download() == 1;
        result.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
      }
      result.events = port.callback->take();
      port.results.push_back(std::move(result));
    }
  };

  std::vector<std::thread> threads;
  for (Port& port : ports) threads.emplace_back(flashPort, std::ref(port));
  // Forward an abort to every session's wait.
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished.load()) {
      if (m_abort.load()) {
        for (Port& port : ports) port.session->Abort();
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  });
  for (std::thread& t : threads) t.join();
  finished.store(true);
  watcher.join();

  std::vector<PhoneResult> results;
  for (Port& port : ports) {
    for (PhoneResult& r : port.results) results.push_back(std::move(r));
    dll.DeleteDll(&port.session);
  }
  return results;
}

}  // namespace hxflash
