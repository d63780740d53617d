#pragma once
// A program run as a child process (a virtual phone, its verify, hxflash
// itself in the tests); stopped with SIGTERM if still running when the object
// goes.
#include <sys/types.h>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace hxflash {

class ChildProcess {
 public:
  // `output`: a file that receives the child's standard output (empty: ours).
  // `errors`: a file for its standard error (empty: ours; the same name as
  // `output`: both go to that one file).
  explicit ChildProcess(const std::vector<std::string>& argv, const std::string& output = {},
                        const std::string& errors = {});
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  pid_t pid() const { return m_pid; }

  // Sends `signal` while the child runs.
  void signal(int signal);

  // The exit status, or -1 when it did not exit normally.
  int wait();
  // The same, or nothing when the child still runs after `limit`.
  std::optional<int> waitFor(std::chrono::milliseconds limit);

 private:
  void reap(int status);

  pid_t m_pid = -1;
  int m_status = -1;
};

}  // namespace hxflash
