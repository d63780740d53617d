#include "station/station_run.h"

#include "host/module_loader.h"

namespace hxflash {

StationRun::StationRun(StationRunSetup setup)
    : m_hooks(setup.hooks ? setup.hooks : &m_noHooks),
      m_keepPhone(std::move(setup.keepPhone)),
      m_moduleHandsOver(moduleHandsOverLines(setup.flash.modulePath)),
      m_logs(setup.logDir) {
  m_logs.beginRun(runHeader(setup.flash.packagePath, setup.flash.modulePath));
  const std::vector<uint32_t> ports = setup.flash.comPorts;
  m_run = std::make_unique<FlashRun>(wired(setup));
  m_output = openStationOutput(setup.output, m_logs, std::move(setup.plan), ports, m_moduleHandsOver);
}

StationRun::~StationRun() {
  if (m_output) m_output->finishLog();
  m_run.reset();  // its sessions end before the output they report to
}

// The sessions report to the run's output and logs; both exist before any
// session starts.
FlashOptions StationRun::wired(StationRunSetup& setup) {
  FlashOptions options = std::move(setup.flash);
  options.onEvent = [this](uint32_t com, int phone, const HostEvent& e) {
    m_hooks->event(com, e, m_output->report());
    m_logs.portEvent(com, phone, e, RunLogs::needsLogPosition(e) ? m_output->logPosition() : 0);
    m_output->report().event(com, phone, e);
  };
  if (m_moduleHandsOver) {
    options.onModuleLine = [this](unsigned com, int, const std::string& line) {
      m_hooks->moduleLine(com, line, m_output->report());
      m_output->moduleLine(com, line);
    };
  }
  options.onWaiting = [this](uint32_t com, int phone) { m_hooks->waiting(com, phone, m_output->report()); };
  options.onPhoneEnd = [this](const PhoneResult& result) {
    if (outcomeOf(result) == PhoneOutcome::Failed)
      m_logs.phoneFailed(result.comPort, result.phone, m_output->logPosition());
    m_logs.phoneEnded(result);
    if (m_keepPhone) m_keepPhone(result, m_logs, m_output->report());
    m_output->report().phoneEnded(result);
  };
  return options;
}

void StationRun::start() {
  try {
    m_run->start();
  } catch (const std::exception&) {
    m_output->finishLog();
    m_logs.removeIfUnused();  // the module did not start: nothing was logged
    throw;
  }
}

void StationRun::end(const std::vector<PhoneResult>& results, const RunEnd& end) {
  m_output->finishLog();
  m_output->report().end(results, end);
}

}  // namespace hxflash
