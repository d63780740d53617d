#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "host/program_location.h"

namespace hxflash {

std::string programDirectory() {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::string file(path, n);
  const size_t slash = file.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : file.substr(0, slash);
}

}  // namespace hxflash
