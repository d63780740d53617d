#include "host/child_process.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>
#include <thread>

extern char** environ;

namespace hxflash {

ChildProcess::ChildProcess(const std::vector<std::string>& argv, const std::string& output,
                           const std::string& errors) {
  if (argv.empty()) throw std::invalid_argument("no program to run");
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  constexpr int kFlags = O_WRONLY | O_CREAT | O_TRUNC;
  if (!output.empty()) posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(), kFlags, 0644);
  if (!errors.empty() && errors == output) {
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
  } else if (!errors.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors.c_str(), kFlags, 0644);
  }
  const int rc = posix_spawn(&m_pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) {
    m_pid = -1;
    throw std::runtime_error("cannot start " + argv[0]);
  }
}

ChildProcess::~ChildProcess() {
  if (m_pid > 0) {
    ::kill(m_pid, SIGTERM);
    wait();
  }
}

void ChildProcess::signal(int signal) {
  if (m_pid > 0) ::kill(m_pid, signal);
}

void ChildProcess::reap(int status) {
  m_pid = -1;
  m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int ChildProcess::wait() {
  if (m_pid <= 0) return m_status;
  int status = 0;
  pid_t done = -1;
  while ((done = ::waitpid(m_pid, &status, 0)) < 0 && errno == EINTR) {
  }
  if (done < 0) {
    m_pid = -1;  // not our child any more: nothing to report
    return m_status = -1;
  }
  reap(status);
  return m_status;
}

std::optional<int> ChildProcess::waitFor(std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (m_pid > 0) {
    int status = 0;
    const pid_t done = ::waitpid(m_pid, &status, WNOHANG);
    if (done == m_pid) {
      reap(status);
      break;
    }
    if (done < 0 && errno != EINTR) return wait();  // reports the error
    if (std::chrono::steady_clock::now() >= end) return std::nullopt;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return m_status;
}

}  // namespace hxflash
