#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shared_library.h"

namespace hxflash {

void* openSharedLibrary(const std::string& path, std::string* why) {
  HMODULE library = LoadLibraryA(path.c_str());
  if (!library) *why = path + ": LoadLibrary failed (error " + std::to_string(GetLastError()) + ")";
  return reinterpret_cast<void*>(library);
}

void* findExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace hxflash
