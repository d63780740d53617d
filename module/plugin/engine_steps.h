#pragma once
// The engine steps a controller runs for its session. The module always runs
// the real ones; tests may put others in their place on a controller (for
// example a download that succeeds at once, to see the reset countdown). The
// exports never offer this.
#include <cstdint>
#include <memory>
#include <string>

#include "download/agent_images.h"
#include "download/download_sequence.h"
#include "protocol/session_report.h"
#include "link/link.h"

namespace hx {

class EngineSteps {
 public:
  virtual ~EngineSteps() = default;
  // The presence probe of the session's wait: whether COM port `comPort` is
  // there, told by opening it through the port manager and closing it again.
  virtual bool portPresent(uint32_t comPort);
  // Opens COM port `comPort` as the protocol link; null (reason in *why) when it cannot.
  virtual std::unique_ptr<Link> openLink(uint32_t comPort, uint32_t baud, std::string* why);
  // The BootROM connection on a freshly opened link.
  virtual int connect(Link& link, const SessionImages& images, SessionReport& report);
  // The download sequence on the connected link.
  virtual int download(Link& link, const DownloadInputs& inputs, SessionReport& report);
};

// The steps every controller starts with.
std::shared_ptr<EngineSteps> realEngineSteps();

}  // namespace hx
