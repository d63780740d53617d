#pragma once
// Engine steps for session tests: they stand in for the phone conversation.
#include <atomic>
#include <functional>
#include <memory>

#include "plugin/engine_steps.h"

namespace hxtest {

// A link to nowhere: reads time out at once, writes vanish.
class NullLink final : public hx::Link {
 public:
  int write(const uint8_t*, size_t) override { return 0; }
  int read(uint8_t*, size_t, size_t* got) override {
    *got = 0;
    return 1;
  }
  int setTimeouts(uint32_t, uint32_t) override { return 0; }
};

class TestSteps : public hx::EngineSteps {
 public:
  // When set, openLink hands out NullLinks instead of opening a real port.
  bool fakePorts = false;
  // When set, openLink hands out what it makes instead.
  std::function<std::unique_ptr<hx::Link>()> makeLink;
  // Run the module's own BootROM connection and download instead of standing in.
  bool realConnect = false;
  bool realDownload = false;
  // The download's result and what it does first.
  int downloadResult = 0;
  std::function<void(hx::SessionReport&)> onDownload;

  std::atomic<int> connects{0};
  std::atomic<int> downloads{0};
  // The session's attempts on its port: presence probes (the real ones, on
  // the real port) and opens of the protocol link.
  std::atomic<uint64_t> presenceProbes{0};
  std::atomic<uint64_t> linkOpens{0};

  bool portPresent(uint32_t comPort) override {
    ++presenceProbes;
    return hx::EngineSteps::portPresent(comPort);
  }
  std::unique_ptr<hx::Link> openLink(uint32_t comPort, uint32_t baud, std::string* why) override {
    ++linkOpens;
    if (makeLink) return makeLink();
    if (fakePorts) return std::make_unique<NullLink>();
    return hx::EngineSteps::openLink(comPort, baud, why);
  }
  // The BootROM connection's result.
  int connectResult = 0;

  int connect(hx::Link& link, const hx::SessionImages& images, hx::SessionReport& report) override {
    ++connects;
    return realConnect ? hx::EngineSteps::connect(link, images, report) : connectResult;
  }
  int download(hx::Link& link, const hx::DownloadInputs& inputs, hx::SessionReport& report) override {
    ++downloads;
    if (realDownload) return hx::EngineSteps::download(link, inputs, report);
    if (onDownload) onDownload(report);
    return downloadResult;
  }
};

}  // namespace hxtest
