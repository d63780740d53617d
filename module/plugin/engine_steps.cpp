#include "plugin/engine_steps.h"

#include "ports/com_mngr.h"
#include "protocol/bootrom.h"
#include "link/port_closing.h"
#include "link/serial_link.h"

namespace hx {

bool EngineSteps::portPresent(uint32_t comPort) {
  // A close still waiting for the phone to take its bytes holds the port: the
  // phone is there.
  if (comPortClosing(comPort)) return true;
  CComMngr port;
  const bool opened = port.OpenComPort(static_cast<unsigned char>(comPort)) != 0;
  port.Close();
  return opened;
}

std::unique_ptr<Link> EngineSteps::openLink(uint32_t comPort, uint32_t baud, std::string* why) {
  return openSerialLink(comPort, baud, why);
}

int EngineSteps::connect(Link& link, const SessionImages& images, SessionReport& report) {
  return connectBootRom(link, images.agent.da1, images.agent.da2, report);
}

int EngineSteps::download(Link& link, const DownloadInputs& inputs, SessionReport& report) {
  return runDownload(link, inputs, report);
}

std::shared_ptr<EngineSteps> realEngineSteps() {
  static const auto steps = std::make_shared<EngineSteps>();
  return steps;
}

}  // namespace hx
