#pragma once
// Module-wide state that no session owns: the package path, the lock around
// the once-only package load, and the host's settings.
#include <atomic>
#include <string>

#include "platform/critical_section.h"

namespace hx {

// The path stored by PreviousLoad. Read and written under its own small lock,
// since a host may call PreviousLoad while another session initialises.
void setPackagePath(const std::string& path);
std::string packagePath();

// Serialises the once-only package load. Ready when the module loads;
// PreviousLoad never re-initialises it (another thread may hold it).
CCriticalSection& packageLock();

// Host settings: stored, read by nothing.
extern std::atomic<int> g_setting1;
extern std::atomic<int> g_setting20;

}  // namespace hx
