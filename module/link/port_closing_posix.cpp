#include <dlfcn.h>
#include <linux/serial.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <atomic>
#include <map>
#include <mutex>
#include <system_error>
#include <thread>

#include "link/port_closing.h"
#include "link/tty_posix.h"
#include "platform/log.h"

namespace hx {
namespace {

// The closes that still wait, by COM port. Made by the first close that goes
// into the background, which also keeps the module loaded; never destroyed: a
// close may end while the process exits. Until then there is none, and a
// module that never closed in the background leaves nothing behind when the
// host unloads it.
struct PendingCloses {
  std::mutex mutex;
  std::map<uint32_t, int> count;
};

std::atomic<PendingCloses*> g_pendingCloses{nullptr};

PendingCloses& pendingCloses() {
  static PendingCloses* const pending = [] {
    auto* made = new PendingCloses;
    g_pendingCloses.store(made, std::memory_order_release);
    return made;
  }();
  return *pending;
}

// Whether close() would wait: the tty has a closing wait (a USB serial port;
// a pty has none) and bytes are still queued in it.
bool closeWouldWait(int fd, int* queued, int* waitCs) {
  serial_struct serial{};
  if (::ioctl(fd, TIOCGSERIAL, &serial) != 0) return false;
  if (serial.closing_wait == ASYNC_CLOSING_WAIT_NONE) return false;
  *waitCs = serial.closing_wait;
  return ::ioctl(fd, TIOCOUTQ, queued) == 0 && *queued > 0;
}

// A closing thread runs the module's code until its close ends: the module
// stays loaded from then on, whatever the host unloads.
void keepModuleLoaded() {
  static std::once_flag once;
  std::call_once(once, [] {
    Dl_info self{};
    if (::dladdr(reinterpret_cast<void*>(&keepModuleLoaded), &self) != 0 && self.dli_fname)
      ::dlopen(self.dli_fname, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
  });
}

void closeCounted(int fd, uint32_t comPort) {
  ::close(fd);
  PendingCloses& pending = pendingCloses();
  const std::lock_guard lock(pending.mutex);
  if (--pending.count[comPort] <= 0) pending.count.erase(comPort);
}

}  // namespace

void closeComTty(int fd, uint32_t comPort) {
  if (fd < 0) return;
  ::ioctl(fd, TIOCNXCL);
  int queued = 0;
  int waitCs = 0;
  if (!closeWouldWait(fd, &queued, &waitCs)) {
    ::close(fd);
    return;
  }
  logMessageFor(comPort,
                "[com] COM%u: %d bytes the phone has not taken are still queued; the port is closed in the "
                "background and counts as attached until the phone leaves (at most %d.%02d s)\n",
                comPort, queued, waitCs / 100, waitCs % 100);
  keepModuleLoaded();
  {
    PendingCloses& pending = pendingCloses();
    const std::lock_guard lock(pending.mutex);
    ++pending.count[comPort];
  }
  try {
    std::thread(closeCounted, fd, comPort).detach();
  } catch (const std::system_error&) {
    closeCounted(fd, comPort);  // no thread to be had: the close waits here
  }
}

bool comPortClosing(uint32_t comPort) {
  PendingCloses* pending = g_pendingCloses.load(std::memory_order_acquire);
  if (!pending) return false;
  const std::lock_guard lock(pending->mutex);
  return pending->count.count(comPort) != 0;
}

}  // namespace hx
