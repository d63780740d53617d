#pragma once
// The CPU time of a process tree: this process and the child processes it
// started (the virtual phones), user + system, in seconds so far. A child
// that has ended still counts until it is reaped (its times stay readable).
#include <sys/types.h>

#include <vector>

namespace hxbench {

double processTreeCpuSeconds(const std::vector<pid_t>& children);

// The cores this process may run on.
int usableCores();

}  // namespace hxbench
