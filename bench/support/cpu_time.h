#pragma once
// What this process (all its threads) has used so far: user + system CPU time
// in seconds, and how often it gave up the processor to wait.
#include <sys/resource.h>

namespace hxbench {

struct ProcessUsage {
  double cpuSeconds = 0;
  long waits = 0;  // voluntary context switches
};

inline ProcessUsage processUsage() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  auto seconds = [](const timeval& t) { return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6; };
  return {seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_nvcsw};
}

inline double processCpuSeconds() { return processUsage().cpuSeconds; }

}  // namespace hxbench
