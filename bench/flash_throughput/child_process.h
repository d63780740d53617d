#pragma once
// A program run as a child process (the virtual phone, its verify); stopped
// with SIGTERM if still running when the object goes.
#include <sys/types.h>

#include <string>
#include <vector>

namespace hxbench {

class ChildProcess {
 public:
  // `output`: a file that receives the child's standard output and error.
  ChildProcess(const std::vector<std::string>& argv, const std::string& output);
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // The exit status, or -1 when it did not exit normally.
  int wait();

 private:
  pid_t m_pid = -1;
  int m_status = -1;
};

}  // namespace hxbench
