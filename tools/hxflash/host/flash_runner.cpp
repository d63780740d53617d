#include "host/flash_runner.h"

#include <stdexcept>
#include <utility>

#include "host/module_loader.h"
#include "host/port_assignment.h"

namespace hxflash {
namespace {


bool isCountdown(const HostEvent& event) {
  return event.code == kNotifyStatus && event.text.starts_with(kCountdownPrefix);
}

double secondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

std::vector<HostEvent> failedStepEvents(const std::vector<HostEvent>& events) {
  std::vector<HostEvent> kept;
  for (const HostEvent& e : events) {
    if (e.code == kNotifyError) {
      kept.push_back(e);
      break;
    }
    if (e.code == kNotifyStatus && !isCountdown(e)) kept.assign(1, e);
  }
  return kept;
}

std::string lastStep(const std::vector<HostEvent>& events) {
  std::string step;
  for (const HostEvent& e : events) {
    if (e.code == kNotifyError) break;
    if (e.code == kNotifyStatus && !isCountdown(e)) step = e.text;
  }
  return step;
}

std::string failedStep(const std::vector<HostEvent>& events) {
  const std::string step = lastStep(events);
  return step.empty() ? kBeforeFirstStep : step;
}

struct FlashRun::Module {
  explicit Module(const std::string& path) : loaded(path) {}
  LoadedModule loaded;
};

// The host callback of one port: hands what the module reports to the run.
class FlashRun::PortCallback final : public CHostCallback {
 public:
  PortCallback(FlashRun& run, Port& port) : m_run(run), m_port(port) {}

  int Reserved0() override { return 0; }
  int Notify(int code, int value, const char* text) override {
    m_run.noteEvent(m_port, HostEvent{code, value, text ? text : ""});
    return 1;
  }
  int NotifyAlt(int code, int value, const char* text) override { return Notify(code, value, text); }

 private:
  FlashRun& m_run;
  Port& m_port;
};

struct FlashRun::Port {
  uint32_t comPort = 0;
  std::unique_ptr<PortCallback> callback;
  CInterfaceTemplate* session = nullptr;
  // Guarded by the run's lock: every phone's turn so far, the last one current.
  std::vector<PhoneResult> results;
  std::chrono::steady_clock::time_point transferStart;
  bool ended = false;  // its thread has finished
};

FlashRun::FlashRun(FlashOptions options) : m_options(std::move(options)) {}

FlashRun::~FlashRun() {
  for (std::thread& t : m_threads) t.join();
  if (!m_module) return;
  const ModuleExports& dll = m_module->loaded.exports();
  for (auto& port : m_ports) {
    if (port->session) dll.DeleteDll(&port->session);
  }
  if (m_options.onModuleLine) dll.SetLogSink(nullptr, nullptr);
}

void FlashRun::moduleLine(void* run, unsigned comPort, int code, const char* line) {
  auto* self = static_cast<FlashRun*>(run);
  if (code != 0) self->noteFailureLine(comPort, code, line);
  self->m_options.onModuleLine(comPort, code, line);
}

void FlashRun::noteFailureLine(unsigned comPort, int code, const char* line) {
  // The line begins with the port's name: "COM41: download failed ...".
  std::string_view reason(line);
  if (const size_t colon = reason.find(": "); colon != std::string_view::npos && reason.starts_with("COM"))
    reason.remove_prefix(colon + 2);
  std::lock_guard<std::mutex> lock(m_mutex);
  for (auto& port : m_ports) {
    if (port->comPort != comPort || port->results.empty()) continue;
    port->results.back().code = code;
    port->results.back().reason = std::string(reason);
  }
}

void FlashRun::noteConnected(Port& port) {
  const HostEvent connected{kNotifyConnected, 0, ""};
  int phone = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    port.results.back().events.push_back(connected);
    phone = port.results.back().phone;
  }
  if (m_options.onEvent) m_options.onEvent(port.comPort, phone, connected);
}

void FlashRun::start() {
  if (m_module) throw std::logic_error("the run has already started");
  for (uint32_t com : m_options.comPorts) {
    if (!isServedComPort(com))
      throw std::runtime_error("COM" + std::to_string(com) + " is outside " + kServedComPorts);
  }
  m_module = std::make_unique<Module>(m_options.modulePath);
  const ModuleExports& dll = m_module->loaded.exports();
  if (m_options.timeScale != 1.0) {
    if (!dll.SetTimeScale || !dll.SetTimeScale(m_options.timeScale))
      throw std::runtime_error("the module refused the time scale");
  }
  if (m_options.onModuleLine) {
    if (!dll.SetLogSink || !dll.SetLogSink(&FlashRun::moduleLine, this))
      throw std::runtime_error("the module cannot hand over its log lines");
  }
  dll.PreviousLoad(m_options.packagePath.c_str());

  for (uint32_t com : m_options.comPorts) {
    auto port = std::make_unique<Port>();
    port->comPort = com;
    port->callback = std::make_unique<PortCallback>(*this, *port);
    if (!dll.NewDll(port->callback.get(), &port->session, static_cast<int>(com - kFirstServedComPort)))
      throw std::runtime_error("the module refused a session on COM" + std::to_string(com));
    // The first phone's turn opens with the run: a stop that comes before the
    // session is ready finds that phone waiting.
    PhoneResult first;
    first.comPort = com;
    first.phone = 1;
    port->results.push_back(std::move(first));
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ports.push_back(std::move(port));
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_portsRunning = m_ports.size();
  }
  for (auto& port : m_ports) m_threads.emplace_back([this, &port = *port] { flashPort(port); });
}

void FlashRun::flashPort(Port& port) {
  CInterfaceTemplate* session = port.session;
  session->Init(0);
  const bool noLimit = m_options.phonesPerPort == 0;
  for (int phone = 1; (noLimit || phone <= m_options.phonesPerPort) && beginPhone(port, phone); ++phone) {
    if (m_options.onWaiting) m_options.onWaiting(port.comPort, phone);
    const bool connected = session->WaitAndConnect() == 1;
    bool download = false;
    {
      // Decided under the lock that abort() takes: a session it did not stop
      // is either downloading already or will not download.
      std::lock_guard<std::mutex> lock(m_mutex);
      PhoneResult& result = port.results.back();
      download = connected && !m_aborted;
      result.connected = download;
      result.stage = download ? PhoneStage::Transferring : PhoneStage::Done;
      port.transferStart = std::chrono::steady_clock::now();
    }
    if (!download) {
      endPhone(port, false);
      break;
    }
    noteConnected(port);
    endPhone(port, session->Download() == 1);
  }
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    port.ended = true;
    --m_portsRunning;
  }
  m_portEnded.notify_all();
}

void FlashRun::endPhone(Port& port, bool succeeded) {
  PhoneResult ended;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    PhoneResult& result = port.results.back();
    if (result.connected) {
      result.succeeded = succeeded;
      result.seconds = secondsSince(port.transferStart);
    }
    result.stage = PhoneStage::Done;
    if (m_options.onPhoneEnd) ended = result;
    if (!m_options.keepEndedPhonesEvents) result.events = failedStepEvents(result.events);
  }
  if (m_options.onPhoneEnd) m_options.onPhoneEnd(ended);
}

bool FlashRun::beginPhone(Port& port, int phone) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (phone > 1 && !m_aborted) {
    PhoneResult result;
    result.comPort = port.comPort;
    result.phone = phone;
    port.results.push_back(std::move(result));
  }
  if (!m_aborted) return true;
  // Stopped before this session waited (Init clears a stop): the first phone's
  // turn ends here.
  if (phone == 1) port.results.back().stage = PhoneStage::Done;
  return false;
}

void FlashRun::noteEvent(Port& port, const HostEvent& event) {
  // The end of a wait: reported once the run knows it was a connection.
  if (event.code == kNotifyConnected) return;
  int phone = 0;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    if (!port.results.empty()) {
      PhoneResult& result = port.results.back();
      result.events.push_back(event);
      if (isCountdown(event) && result.stage == PhoneStage::Transferring) {
        result.stage = PhoneStage::Resetting;
      }
      phone = result.phone;
    }
  }
  if (m_options.onEvent) m_options.onEvent(port.comPort, phone, event);
}

bool FlashRun::waitFor(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_portEnded.wait_for(lock, limit, [this] { return m_portsRunning == 0; });
}

std::vector<PhoneResult> FlashRun::run() {
  start();
  std::unique_lock<std::mutex> lock(m_mutex);
  m_portEnded.wait(lock, [this] { return m_portsRunning == 0; });
  lock.unlock();
  return results();
}

std::vector<PhoneResult> FlashRun::results() const {
  std::vector<PhoneResult> all;
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& port : m_ports) {
    for (const PhoneResult& r : port->results) {
      all.push_back(r);
      if (r.stage == PhoneStage::Transferring || r.stage == PhoneStage::Resetting)
        all.back().seconds = secondsSince(port->transferStart);
    }
  }
  return all;
}

bool FlashRun::onlyResetsLeft() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  for (const auto& port : m_ports) {
    if (port->ended) continue;
    if (port->results.empty() || port->results.back().stage != PhoneStage::Resetting) return false;
  }
  return true;
}

void FlashRun::abort() {
  std::vector<CInterfaceTemplate*> waiting;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_aborted = true;
    for (const auto& port : m_ports) {
      if (!port->results.empty() && port->results.back().stage == PhoneStage::Waiting)
        waiting.push_back(port->session);
    }
  }
  // Outside the lock: a session reports on its own thread while it stops.
  for (CInterfaceTemplate* session : waiting) session->Abort();
}

}  // namespace hxflash
