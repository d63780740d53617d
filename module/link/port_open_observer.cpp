#include "link/port_open_observer.h"

#include <atomic>

namespace hx {
namespace {
std::atomic<PortOpenObserver> g_observer{nullptr};
}  // namespace

void setPortOpenObserver(PortOpenObserver observer) { g_observer.store(observer); }

void notePortOpen(PortOpenPurpose purpose) {
  if (const PortOpenObserver observer = g_observer.load()) observer(purpose);
}

}  // namespace hx
