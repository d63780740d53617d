#include "plugin/event_bridge.h"

#include <map>
#include <mutex>

#include "plugin/engine_class.h"
#include "plugin/interface_template.h"
#include "protocol/engine_events.h"

namespace hx {
namespace {

// Held while one event is routed and delivered, so events of all sessions
// reach the host one at a time; registry writes take it too.
std::recursive_mutex& eventLock() {
  static std::recursive_mutex lock;
  return lock;
}

std::map<uint32_t, CEngineClass*>& controllerMap() {
  static std::map<uint32_t, CEngineClass*> map;
  return map;
}

}  // namespace

void registerController(uint32_t comPort, CEngineClass* controller) {
  std::lock_guard<std::recursive_mutex> lock(eventLock());
  controllerMap()[comPort & 0xFF] = controller;
}

void unregisterController(CEngineClass* controller) {
  std::lock_guard<std::recursive_mutex> lock(eventLock());
  auto& map = controllerMap();
  for (auto it = map.begin(); it != map.end();) {
    if (it->second == controller)
      it = map.erase(it);
    else
      ++it;
  }
}

CEngineClass* registeredController(uint32_t comPort) {
  std::lock_guard<std::recursive_mutex> lock(eventLock());
  const auto it = controllerMap().find(comPort & 0xFF);
  return it == controllerMap().end() ? nullptr : it->second;
}

void EngineEventProc(unsigned port, unsigned kind, int value, const char* text) {
  std::lock_guard<std::recursive_mutex> lock(eventLock());
  const auto it = controllerMap().find(port & 0xFF);
  if (it == controllerMap().end()) return;
  CEngineClass* controller = it->second;
  switch (kind) {
    case kEventDownloadComplete:
      controller->OnNotify(kNotifyStatus, 100, "Download Complete");
      break;
    case kEventError:
      controller->OnNotify(kNotifyError, 0, "Error");
      break;
    case kEventProgress:
      controller->OnNotify(kNotifyProgress, value, "");
      break;
    case kEventSubStep:
    case kEventStep:
      controller->OnNotify(kNotifyStatus, value, text ? text : "");
      break;
    default:
      break;  // kind 2 and unknown kinds reach no one
  }
}

}  // namespace hx
