#pragma once
// Loads the plug-in module the way the real host does: by file, through its
// exports only.
#include <string>

#include "plugin/interface_template.h"

namespace hxflash {

struct ModuleExports {
  int (*GetDefinedData)(unsigned, int*, char*) = nullptr;
  int (*SetParameter)(int, int) = nullptr;
  int (*GetParameter)(int, int) = nullptr;
  int (*NewDll)(CHostCallback*, CInterfaceTemplate**, int) = nullptr;
  int (*DeleteDll)(CInterfaceTemplate**) = nullptr;
  int (*PreviousLoad)(const char*) = nullptr;
  int (*SetTimeScale)(double) = nullptr;  // optional: absent from other builds
  int (*SetLogSink)(HxLogSink, void*) = nullptr;  // optional: absent from other builds
};

class LoadedModule {
 public:
  // Loads the file `path`; a bare file name is taken from the current
  // directory, never searched for on the library path. Throws
  // std::runtime_error when the file cannot be loaded or lacks an export.
  explicit LoadedModule(const std::string& path);
  ~LoadedModule();
  LoadedModule(const LoadedModule&) = delete;
  LoadedModule& operator=(const LoadedModule&) = delete;

  const ModuleExports& exports() const { return m_exports; }
  const std::string& path() const { return m_path; }

 private:
  void* m_handle = nullptr;
  std::string m_path;
  ModuleExports m_exports;
};

// Whether the module file `path` hands its log lines to a host (SetLogSink).
// Throws std::runtime_error, as LoadedModule does, when it cannot be loaded.
bool moduleHandsOverLines(const std::string& path);

// $HXFLASH_MODULE; else the module beside this program or in its
// installation's module folder (lib/hxflash); else the one of the build tree
// this program was built in.
std::string defaultModulePath();

}  // namespace hxflash
