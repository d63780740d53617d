#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "shared_library.h"

namespace hxflash {

void* openSharedLibrary(const std::string& path, std::string* why) {
  const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
  // No message box of the system's for a library that will not load: the
  // reason is ours to tell.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryA(file.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(previous);
  if (!library) *why = file + ": LoadLibrary failed (error " + std::to_string(error) + ")";
  return reinterpret_cast<void*>(library);
}

void* findExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace hxflash
