#pragma once
// Loading a shared library by file and finding its exports: dlopen on POSIX,
// LoadLibrary on Windows. A bare file name means the file in the current
// directory, never one searched for on the system's library path.
#include <string>

namespace hxflash {

// The library's handle, or null with the reason in *why.
void* openSharedLibrary(const std::string& path, std::string* why);
// The named export, or null.
void* findExport(void* library, const char* name);
void closeSharedLibrary(void* library);

}  // namespace hxflash
