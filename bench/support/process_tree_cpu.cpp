#include "process_tree_cpu.h"

#include <sched.h>
#include <unistd.h>

#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "cpu_time.h"

namespace hxbench {
namespace {

// utime + stime of /proc/<pid>/stat: the 14th and 15th fields, counted after
// the command name's closing parenthesis (the name may hold spaces).
double childCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  const std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t close = stat.rfind(')');
  if (close == std::string::npos) return 0;
  std::istringstream fields(stat.substr(close + 1));
  std::string field;
  // After the name: state (3rd field) ... utime (14th), stime (15th).
  for (int i = 3; i < 14 && fields >> field; ++i) {
  }
  unsigned long long user = 0, system = 0;
  if (!(fields >> user >> system)) return 0;
  return static_cast<double>(user + system) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace

double processTreeCpuSeconds(const std::vector<pid_t>& children) {
  double seconds = processCpuSeconds();
  for (pid_t child : children) seconds += childCpuSeconds(child);
  return seconds;
}

int usableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN));
  return CPU_COUNT(&set);
}

}  // namespace hxbench
