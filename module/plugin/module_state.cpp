#include "plugin/module_state.h"

#include <mutex>

namespace hx {
namespace {
std::mutex g_pathMutex;
std::string g_packagePath;
}  // namespace

std::atomic<int> g_setting1{0};
std::atomic<int> g_setting20{0};

void setPackagePath(const std::string& path) {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  g_packagePath = path;
}

std::string packagePath() {
  std::lock_guard<std::mutex> lock(g_pathMutex);
  return g_packagePath;
}

CCriticalSection& packageLock() {
  static CCriticalSection lock;
  return lock;
}

}  // namespace hx
