#include "hxphone/phone_process.h"

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <exception>
#include <thread>

namespace hxphone {

namespace {

pid_t g_child = -1;

void forwardSignal(int sig) {
  if (g_child > 0) ::kill(g_child, sig);
}

}  // namespace

bool becomeSessionLeader() {
  if (::setsid() >= 0) return true;
  g_child = ::fork();
  if (g_child < 0) return false;
  if (g_child == 0) return ::setsid() >= 0;
  struct sigaction sa {};
  sa.sa_handler = forwardSignal;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
  int status = 0;
  while (::waitpid(g_child, &status, 0) < 0 && errno == EINTR) {
  }
  std::exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
}

Outcome runUntilStopped(PhoneStation& station) {
  // Blocked before the phones' threads start, so only the waiter takes them.
  sigset_t stopSignals;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
  std::thread waiter([&] {
    int sig = 0;
    sigwait(&stopSignals, &sig);
    if (sig == SIGINT || sig == SIGTERM) station.stop();
  });
  Outcome outcome = Outcome::Stopped;
  std::exception_ptr failure;
  try {
    outcome = station.run();
  } catch (...) {
    failure = std::current_exception();  // a port that could not be plugged in
  }
  // Release the waiter: it only ever stops the station.
  ::kill(::getpid(), SIGTERM);
  waiter.join();
  if (failure) std::rethrow_exception(failure);
  return outcome;
}

}  // namespace hxphone
