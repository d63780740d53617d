#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <condition_variable>
#include <mutex>

#include "station/interrupt_watch.h"

namespace hxflash {
namespace {

// The console calls its handler on a thread of its own.
std::mutex g_mutex;
std::condition_variable g_came;
int g_pending = 0;

BOOL WINAPI onConsoleControl(DWORD type) {
  if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) return FALSE;  // closing: the system ends the run
  {
    std::lock_guard<std::mutex> lock(g_mutex);
    ++g_pending;
  }
  g_came.notify_all();
  return TRUE;
}

}  // namespace

InterruptWatch::InterruptWatch() { SetConsoleCtrlHandler(onConsoleControl, TRUE); }

InterruptWatch::~InterruptWatch() {
  SetConsoleCtrlHandler(onConsoleControl, FALSE);
  std::lock_guard<std::mutex> lock(g_mutex);
  g_pending = 0;
}

int InterruptWatch::take(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(g_mutex);
  if (!g_came.wait_for(lock, limit, [] { return g_pending > 0; })) return 0;
  --g_pending;
  return 1;
}

}  // namespace hxflash
