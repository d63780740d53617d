#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <string>

#include "host/shared_library.h"

namespace hxflash {
namespace {

// Why LoadLibrary refused, in words for the operator.
std::string loadFailure(DWORD error) {
  switch (error) {
    case ERROR_MOD_NOT_FOUND:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
      return "there is no such file (ModelTemplate.dll belongs beside hxflash.exe, or name it with --module)";
    case ERROR_BAD_EXE_FORMAT:
      return sizeof(void*) == 8 ? "it is no 64-bit DLL: the 64-bit hxflash.exe needs the x64 ModelTemplate.dll"
                                : "it is no 32-bit DLL: a 32-bit host needs the x86 ModelTemplate.dll";
    default:
      return "it cannot be loaded (Windows error " + std::to_string(error) + ")";
  }
}

}  // namespace

void* openSharedLibrary(const std::string& path, std::string* why) {
  const std::string file = path.find_first_of("/\\:") == std::string::npos ? ".\\" + path : path;
  // No message box of the system's for a library that will not load: the
  // reason is ours to tell.
  const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE library = LoadLibraryA(file.c_str());
  const DWORD error = GetLastError();
  SetErrorMode(previous);
  if (!library) *why = file + ": " + loadFailure(error);
  return reinterpret_cast<void*>(library);
}

void* findExport(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closeSharedLibrary(void* library) { FreeLibrary(static_cast<HMODULE>(library)); }

}  // namespace hxflash
