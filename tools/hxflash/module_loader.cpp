#include "module_loader.h"

#include <dlfcn.h>

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "program_location.h"

namespace hxflash {
namespace {

template <class Fn>
void bind(void* handle, const char* name, Fn& fn, bool required) {
  void* symbol = dlsym(handle, name);
  if (!symbol && required) throw std::runtime_error(std::string("module lacks the export ") + name);
  fn = reinterpret_cast<Fn>(symbol);
}

// The module is a file: a bare name means the file in the current directory,
// which dlopen would otherwise look for on the library search path.
std::string asFilePath(const std::string& path) {
  return path.find('/') == std::string::npos ? "./" + path : path;
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path) : m_path(asFilePath(path)) {
  m_handle = dlopen(m_path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!m_handle) throw std::runtime_error(std::string("cannot load module: ") + dlerror());
  try {
    bind(m_handle, "GetDefinedData", m_exports.GetDefinedData, true);
    bind(m_handle, "SetParameter", m_exports.SetParameter, true);
    bind(m_handle, "GetParameter", m_exports.GetParameter, true);
    bind(m_handle, "NewDll", m_exports.NewDll, true);
    bind(m_handle, "DeleteDll", m_exports.DeleteDll, true);
    bind(m_handle, "PreviousLoad", m_exports.PreviousLoad, true);
    bind(m_handle, "SetTimeScale", m_exports.SetTimeScale, false);
  } catch (...) {
    dlclose(m_handle);
    throw;
  }
}

LoadedModule::~LoadedModule() {
  if (m_handle) dlclose(m_handle);
}

std::string defaultModulePath() {
  if (const char* env = std::getenv("HXFLASH_MODULE"); env && *env) return env;
  // An installed hxflash: the module beside it, or in the installation's
  // module folder. Only then the build tree this program was built in.
  const std::string programs = programDirectory();
  std::vector<std::string> candidates;
  if (!programs.empty()) {
    candidates.push_back(programs + "/" + HXFLASH_MODULE_FILE_NAME);
    candidates.push_back(programs + "/" + HXFLASH_MODULE_DIR_FROM_PROGRAMS + "/" + HXFLASH_MODULE_FILE_NAME);
  }
  for (const std::string& candidate : candidates) {
    std::error_code ec;
    if (std::filesystem::is_regular_file(candidate, ec)) return std::filesystem::path(candidate).lexically_normal();
  }
  return HXFLASH_DEFAULT_MODULE;
}

}  // namespace hxflash
