#include "host/module_loader.h"

#include <cstdlib>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "host/program_location.h"
#include "host/shared_library.h"

namespace hxflash {
namespace {

template <class Fn>
void bind(void* handle, const char* name, Fn& fn, bool required) {
  void* symbol = findExport(handle, name);
  if (!symbol && required) throw std::runtime_error(std::string("module lacks the export ") + name);
  fn = reinterpret_cast<Fn>(symbol);
}

}  // namespace

LoadedModule::LoadedModule(const std::string& path) : m_path(path) {
  std::string why;
  m_handle = openSharedLibrary(m_path, &why);
  if (!m_handle) throw std::runtime_error("cannot load module: " + why);
  try {
    bind(m_handle, "GetDefinedData", m_exports.GetDefinedData, true);
    bind(m_handle, "SetParameter", m_exports.SetParameter, true);
    bind(m_handle, "GetParameter", m_exports.GetParameter, true);
    bind(m_handle, "NewDll", m_exports.NewDll, true);
    bind(m_handle, "DeleteDll", m_exports.DeleteDll, true);
    bind(m_handle, "PreviousLoad", m_exports.PreviousLoad, true);
    bind(m_handle, "SetTimeScale", m_exports.SetTimeScale, false);
    bind(m_handle, "SetLogSink", m_exports.SetLogSink, false);
  } catch (...) {
    closeSharedLibrary(m_handle);
    throw;
  }
}

LoadedModule::~LoadedModule() {
  if (m_handle) closeSharedLibrary(m_handle);
}

bool moduleHandsOverLines(const std::string& path) { return LoadedModule(path).exports().SetLogSink != nullptr; }

std::string defaultModulePath() {
  if (const char* env = std::getenv("HXFLASH_MODULE"); env && *env) return env;
#if defined(_WIN32)
  // hxflash.exe is shipped with the module beside it.
  const std::string dir = programDirectory();
  return dir.empty() ? "ModelTemplate.dll" : dir + "\\ModelTemplate.dll";
#else
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
#endif
}

}  // namespace hxflash
