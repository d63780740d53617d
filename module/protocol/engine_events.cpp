#include "protocol/engine_events.h"

#include <atomic>

namespace hx {
namespace {
std::atomic<EngineEventFn> g_engineEventCallback{nullptr};
}

void setEngineEventCallback(EngineEventFn fn) { g_engineEventCallback.store(fn); }

void reportEvent(unsigned key, unsigned kind, int value, const char* text) {
  if (EngineEventFn fn = g_engineEventCallback.load()) fn(key, kind, value, text ? text : "");
}

int percentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

}  // namespace hx
