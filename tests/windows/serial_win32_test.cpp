// The Win32 port manager and protocol link, run under Wine against virtual
// phones on COM41: serial_win32_test.sh plugs one in each time this program
// says it is waiting. A phone's BootROM answers each handshake byte with its
// complement and stays silent otherwise; it goes when the host that talked to
// it closes the port; the second phone unplugs after the third byte.
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "check.h"
#include "platform/clock.h"
#include "ports/com_mngr.h"
#include "link/link_ops.h"
#include "link/serial_link.h"

namespace {

using hxwin::g_failures;

constexpr unsigned char kCom = 41;
using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

// Before the phone is plugged in: nothing opens, nothing is held.
void absentPort() {
  hx::CComMngr mngr;
  CHECK(mngr.IsPortPresent(kCom) == 0);
  CHECK(mngr.IsPortAbsent(kCom) == 1);
  CHECK(mngr.OpenComPort(kCom) == 0);
  CHECK(mngr.IsOpen() == 0);
  mngr.Close();  // nothing to close
  std::string why;
  CHECK(hx::openSerialLink(kCom, 19200, &why) == nullptr);
  CHECK(why.find("COM41") != std::string::npos);
}

// Whether the system has a device by the port's name: it opens, or someone
// else holds it.
bool deviceExists(unsigned char port) {
  char name[32];
  std::snprintf(name, sizeof name, "\\\\.\\COM%d", static_cast<int>(port));
  HANDLE handle = CreateFileA(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
  if (handle != INVALID_HANDLE_VALUE) {
    CloseHandle(handle);
    return true;
  }
  const DWORD error = GetLastError();
  return error == ERROR_ACCESS_DENIED || error == ERROR_SHARING_VIOLATION;
}

// Waits until the port is there (present) or gone (!present).
bool waitForPort(bool present) {
  for (hx::Deadline deadline(30'000); !deadline.expired(); hx::sleepMs(20)) {
    if (deviceExists(kCom) == present) return true;
  }
  return false;
}

bool waitForPhone(int phone) {
  std::printf("serial_win32_test: waiting for phone %d on COM41\n", phone);
  std::fflush(stdout);
  if (waitForPort(true)) return true;
  std::fprintf(stderr, "phone %d did not appear on COM41\n", phone);
  return false;
}

// The port manager: an open manager keeps its port; Read takes only what is
// queued, without waiting; a byte written is answered.
void portManager() {
  hx::CComMngr mngr;
  // The port is there, but no name the system has for it marks a phone's.
  CHECK(mngr.IsPortPresent(kCom) == 0);
  CHECK(mngr.IsPortAbsent(kCom) == 1);
  CHECK(mngr.OpenComPort(kCom) == 1);
  CHECK(mngr.IsOpen() == 1);
  CHECK(mngr.OpenComPort(kCom + 1) == 1);  // already open: nothing changes
  CHECK(mngr.portNumber() == kCom);
  CHECK(mngr.Open() == 0);
  CHECK(mngr.Reserved(12345) == 1);
  CHECK(mngr.SetDtr(1) == 0);

  unsigned char buffer[100] = {};
  const auto start = Clock::now();
  CHECK(mngr.Read(buffer, sizeof buffer) == 0);  // nothing queued
  CHECK(secondsSince(start) < 2.0);              // generous: Read does not wait

  const unsigned char first = 0xA0;
  CHECK(mngr.Write(&first, 1) != 0);
  int got = 0;
  for (hx::Deadline deadline(5'000); got == 0 && !deadline.expired(); hx::sleepMs(5)) {
    got = mngr.Read(buffer, sizeof buffer);
  }
  CHECK(got == 1);
  CHECK(buffer[0] == 0x5F);
  mngr.Close();
  CHECK(mngr.IsOpen() == 0);
}

// The protocol link: silence is 1, an answer is read in full, the line speed
// changes, and a phone that unplugs fails the next reads at once rather than
// after any bound on a silent phone.
void protocolLink() {
  std::string why;
  std::unique_ptr<hx::SerialPortLink> link = hx::openSerialLink(kCom, 19200, &why);
  CHECK(link != nullptr);
  if (!link) {
    std::fprintf(stderr, "%s\n", why.c_str());
    return;
  }
  uint8_t b = 0x33;
  const auto start = Clock::now();
  CHECK(hx::readU8(*link, &b) == 1);  // silence: the 20 ms + 1 time-out
  CHECK(secondsSince(start) < 2.0);
  CHECK(b == 0x33);
  CHECK(hx::writeU8(*link, 0xA0) == 0);
  CHECK(hx::readU8(*link, &b) == 0);
  CHECK(b == 0x5F);
  CHECK(hx::writeU8(*link, 0x0A) == 0);
  CHECK(hx::readU8(*link, &b) == 0);
  CHECK(b == 0xF5);
  CHECK(link->changeBaudRate(115200) == 0);

  CHECK(hx::setLinkTimeouts(*link, 500, 5000) == 0);
  // The third byte: the phone unplugs as soon as it arrives, so the write
  // itself may already see it gone.
  const int third = hx::writeU8(*link, 0x50);
  CHECK(third == 0 || third == 3);
  const auto unplugged = Clock::now();
  int result = 0;
  for (int reads = 0; reads < 100 && result == 0; ++reads) result = hx::readU8(*link, &b);  // an answer may come first
  // Until the phone is gone a read may time out (1); after it, every read fails.
  for (int reads = 0; reads < 100 && result == 1; ++reads) result = hx::readU8(*link, &b);
  CHECK(result == 3);
  CHECK(secondsSince(unplugged) < 20.0);  // generous; a silent phone's bound is 60 s
  CHECK(hx::writeU8(*link, 0xA0) == 3);
}

}  // namespace

int main() {
  absentPort();
  if (!waitForPhone(1)) return 1;
  portManager();
  if (!waitForPort(false)) {
    std::fprintf(stderr, "phone 1 did not go\n");
    return 1;
  }
  if (!waitForPhone(2)) return 1;
  protocolLink();
  if (g_failures != 0) std::fprintf(stderr, "%d check(s) failed\n", g_failures);
  return g_failures == 0 ? 0 : 1;
}
