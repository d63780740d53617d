#include <dlfcn.h>

#include "host/shared_library.h"

namespace hxflash {

void* openSharedLibrary(const std::string& path, std::string* why) {
  const std::string file = path.find('/') == std::string::npos ? "./" + path : path;
  void* library = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!library) *why = dlerror();
  return library;
}

void* findExport(void* library, const char* name) { return dlsym(library, name); }

void closeSharedLibrary(void* library) { dlclose(library); }

}  // namespace hxflash
