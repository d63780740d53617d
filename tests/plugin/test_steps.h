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
  // The download's result and what it does first.
  int downloadResult = 0;
  std::function<void(const hx::DownloadInputs&)> onDownload;

  std::atomic<int> connects{0};
  std::atomic<int> downloads{0};

  std::unique_ptr<hx::Link> openLink(uint32_t comPort, uint32_t baud, std::string* why) override {
    if (fakePorts) return std::make_unique<NullLink>();
    return hx::EngineSteps::openLink(comPort, baud, why);
  }
  int connect(hx::Link&, const hx::SessionImages&) override {
    ++connects;
    return 0;
  }
  int download(hx::Link*, const hx::DownloadInputs& inputs) override {
    ++downloads;
    if (onDownload) onDownload(inputs);
    return downloadResult;
  }
};

}  // namespace hxtest
