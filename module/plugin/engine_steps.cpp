#include "plugin/engine_steps.h"

#include "platform/log.h"
#include "protocol/bootrom.h"
#include "serial/serial_link.h"

namespace hx {

std::unique_ptr<Link> EngineSteps::openLink(uint32_t comPort, uint32_t baud, std::string* why) {
  return openSerialLink(comPort, baud, why);
}

int EngineSteps::connect(Link& link, const SessionImages& images) {
  return connectBootRom(link, images.agent.da1, images.agent.da2);
}

int EngineSteps::download(Link* link, const DownloadInputs& inputs) {
  if (!link) {
    logMessage("COM%u: no connected phone to download to\n", inputs.eventKey);
    return kLinkFailed;
  }
  return runDownload(*link, inputs);
}

std::shared_ptr<EngineSteps> realEngineSteps() {
  static const auto steps = std::make_shared<EngineSteps>();
  return steps;
}

}  // namespace hx
