#include <windows.h>

#include <string>

#include "agent/agent_blocks.h"

namespace hx::agent {

std::string moduleDirectory() {
  HMODULE self = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(&moduleDirectory), &self))
    return {};
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return {};
  const std::string full(path, n);
  const size_t slash = full.find_last_of("\\/");
  return slash == std::string::npos ? "." : full.substr(0, slash);
}

}  // namespace hx::agent
