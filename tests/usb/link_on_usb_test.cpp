// The module's link on the kernel's cdc-acm driver, where it differs from a
// pty: a pulled phone hangs the port up (a read gives end of file, poll
// POLLHUP, the rest EIO), a phone that comes back while its old port is held
// gets the next ttyACM number, the output queue counts whole USB transfers,
// and a close with bytes still queued waits for a phone that stopped reading.
#include <gtest/gtest.h>
#include <grp.h>
#include <pwd.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>

#include "link/port_closing.h"
#include "link/serial_link.h"
#include "plugin/engine_steps.h"
#include "ports/com_mngr.h"
#include "ports_dir.h"
#include "usb_gadget.h"

namespace {

using namespace std::chrono_literals;
using usbtest::kPatience;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kBaud = 19200;
// Long enough that a link which took a hang-up for silence would still be
// waiting when the test looks.
constexpr uint32_t kLongBoundMs = 120000;
// The user the machine was started with (usb-vm.sh --user): a station's
// user, not root, in the group the udev rule gives the phone's port to.
constexpr const char* kStationUser = "hxstation";

// Waits for `done` to hold, at most kPatience.
template <typename Done>
bool eventually(Done done) {
  const auto end = std::chrono::steady_clock::now() + kPatience;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(10ms);
  }
  return true;
}

class LinkOnUsb : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string why = usbtest::whyNoGadgets();
    if (!why.empty()) GTEST_SKIP() << why;
    controller = usbtest::deviceControllers().front();
  }

  // A phone plugged into the first socket, its station tty ready.
  std::unique_ptr<usbtest::UsbGadget> plugPhone(const std::string& name) {
    auto gadget = std::make_unique<usbtest::UsbGadget>(name);
    gadget->plug(controller);
    stationTty = gadget->waitStationTty();
    EXPECT_FALSE(stationTty.empty()) << "no ttyACM came for " << name;
    usbtest::udevSettle();
    return gadget;
  }

  std::unique_ptr<hx::SerialPortLink> openLink() {
    std::string why;
    auto link = hx::openSerialLink(kComPort, kBaud, &why);
    EXPECT_TRUE(link) << why;
    return link;
  }

  std::string controller;
  std::string stationTty;
};

TEST_F(LinkOnUsb, BytesGoBothWaysAndSmallWritesDrainThoughTheQueueCountsWholeTransfers) {
  auto gadget = plugPhone("round-trip");
  usbtest::PhoneEnd phone(gadget->phoneTty());
  hxtest::PortsDir ports;
  ports.plug(kComPort, stationTty);
  auto link = openLink();
  ASSERT_TRUE(link);
  link->setTimeouts(5000, 5000);
  for (size_t size : {1u, 64u, 1279u, 1281u, 5000u}) {
    const std::string sent(size, static_cast<char>('a' + size % 26));
    ASSERT_EQ(link->write(reinterpret_cast<const uint8_t*>(sent.data()), sent.size()), hx::kLinkOk) << size;
    EXPECT_EQ(phone.read(size, kPatience), sent) << size;
    const std::string answer = "ack" + std::to_string(size);
    ASSERT_TRUE(phone.write(answer));
    std::string got(answer.size(), '\0');
    size_t n = 0;
    EXPECT_EQ(link->read(reinterpret_cast<uint8_t*>(got.data()), got.size(), &n), hx::kLinkOk) << size;
    EXPECT_EQ(got, answer);
  }
}

TEST_F(LinkOnUsb, PulledPhoneEndsAWaitingReadAsThePortGoneNotAsSilence) {
  auto gadget = plugPhone("pull-read");
  usbtest::PhoneEnd phone(gadget->phoneTty());
  hxtest::PortsDir ports;
  ports.plug(kComPort, stationTty);
  auto link = openLink();
  ASSERT_TRUE(link);
  link->setTimeouts(kLongBoundMs, 5000);
  std::thread pull([&] {
    std::this_thread::sleep_for(300ms);
    gadget->unplug();
  });
  uint8_t buffer[16];
  size_t got = 0;
  const int result = link->read(buffer, sizeof buffer, &got);
  pull.join();
  EXPECT_EQ(result, hx::kLinkFailed) << "a read of 0 after the pull was taken for nothing yet";
  EXPECT_NE(link->failureDetail().find("went away"), std::string::npos) << link->failureDetail();
}

TEST_F(LinkOnUsb, PulledPhoneEndsAWriteWaitingForItsBytesToLeaveAndTheNextReadSaysSo) {
  // The phone's side is not open, so the host's transfers wait: the driver
  // takes the write's bytes, and the write waits for them to leave. The pull
  // ends the waiting transfers with an error the driver keeps to itself (the
  // queue then reads empty) and hangs the port up a moment later: the write
  // may count as sent, but it ends, and the read after it says the port went.
  auto gadget = plugPhone("pull-write");
  hxtest::PortsDir ports;
  ports.plug(kComPort, stationTty);
  auto link = openLink();
  ASSERT_TRUE(link);
  link->setTimeouts(kLongBoundMs, kLongBoundMs);
  std::thread pull([&] {
    std::this_thread::sleep_for(1s);
    gadget->unplug();
  });
  const std::string packet(4096, 'p');
  int result = link->write(reinterpret_cast<const uint8_t*>(packet.data()), packet.size());
  pull.join();
  if (result == hx::kLinkOk) {
    uint8_t answer[2];
    size_t got = 0;
    result = link->read(answer, sizeof answer, &got);
  }
  EXPECT_EQ(result, hx::kLinkFailed);
  EXPECT_NE(link->failureDetail().find("went away"), std::string::npos) << link->failureDetail();
}

TEST_F(LinkOnUsb, PhoneBackWhileItsOldPortIsHeldIsFoundByItsSocketsStableName) {
  auto gadget = plugPhone("comes-back");
  const std::string firstTty = stationTty;
  hxtest::PortsDir ports;
  ports.plug(kComPort, firstTty);
  hx::CComMngr manager;
  EXPECT_EQ(manager.IsPortPresent(kComPort), 1);
  auto held = openLink();
  ASSERT_TRUE(held);

  gadget->unplug();
  ASSERT_TRUE(gadget->waitGone());
  EXPECT_TRUE(eventually([&] { return manager.IsPortPresent(kComPort) == 0; })) << "a pulled phone's port stays present";
  gadget->plug(controller);
  const std::string secondTty = gadget->waitStationTty();
  ASSERT_FALSE(secondTty.empty());
  EXPECT_NE(secondTty, firstTty) << "the old number was given again while its tty was held";
  EXPECT_EQ(manager.IsPortPresent(kComPort), 0) << "the old name leads to the phone again";

  // The name udev gives the socket leads to the new tty: flashing by it goes on.
  const std::string socketName = "/dev/serial/by-path/platform-dummy_hcd.0-usb-0:1:1.0";
  ASSERT_TRUE(eventually([&] {
    std::error_code ec;
    return std::filesystem::canonical(socketName, ec) == secondTty;
  })) << socketName << " does not lead to " << secondTty << " (is udev running?)";
  ports.plug(kComPort, socketName);
  EXPECT_EQ(manager.IsPortPresent(kComPort), 1);
  usbtest::PhoneEnd phone(gadget->phoneTty());
  auto link = openLink();
  ASSERT_TRUE(link);
  link->setTimeouts(5000, 5000);
  const uint8_t hello[] = {0xA0, 0x0A};
  EXPECT_EQ(link->write(hello, sizeof hello), hx::kLinkOk);
  EXPECT_EQ(phone.read(2, kPatience), std::string("\xA0\x0A"));
}

// Runs `check` in a child process as the station's user, in its groups; its
// exit status is the child's (0 when every step held).
int runAsStationUser(int (*check)(int toParent, int fromParent), int toParent, int fromParent) {
  const passwd* user = ::getpwnam(kStationUser);
  if (!user) return 100;
  int groups[64];
  int count = 64;
  ::getgrouplist(user->pw_name, user->pw_gid, reinterpret_cast<gid_t*>(groups), &count);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgroups(static_cast<size_t>(count), reinterpret_cast<gid_t*>(groups)) != 0 ||
        ::setgid(user->pw_gid) != 0 || ::setuid(user->pw_uid) != 0)
      ::_exit(101);
    ::_exit(check(toParent, fromParent));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : 102;
}

// As the station's user: a phone that stopped reading leaves bytes queued;
// the link is closed as a session's end closes it. The close goes on in the
// background, so the session is not held; until the phone is pulled, the port
// counts as attached.
int closeWithBytesQueued(int toParent, int fromParent) {
  hxtest::PortsDir ports;
  char tty[256] = {};
  if (::read(fromParent, tty, sizeof tty - 1) <= 0) return 1;
  ports.plug(kComPort, tty);
  std::string why;
  auto link = hx::openSerialLink(kComPort, kBaud, &why);
  if (!link) {
    std::fprintf(stderr, "open: %s\n", why.c_str());
    return 2;
  }
  link->setTimeouts(1000, 1000);
  const std::string filler(4096, 'f');
  int result = hx::kLinkOk;
  for (int i = 0; i < 64 && result == hx::kLinkOk; ++i)
    result = link->write(reinterpret_cast<const uint8_t*>(filler.data()), filler.size());
  if (result == hx::kLinkOk) return 3;  // the phone took everything
  link.reset();
  if (!hx::comPortClosing(kComPort)) {
    std::fprintf(stderr, "the close ended before the session went on: it waited for the queued bytes\n");
    return 4;
  }
  hx::EngineSteps steps;
  if (!steps.portPresent(kComPort)) {
    std::fprintf(stderr, "a port whose close still waits counts as gone\n");
    return 5;
  }
  if (::write(toParent, "pull", 4) != 4) return 6;
  if (!eventually([] { return !hx::comPortClosing(kComPort); })) return 7;
  if (steps.portPresent(kComPort)) return 8;
  return 0;
}

TEST_F(LinkOnUsb, CloseWithBytesAPhoneStoppedReadingKeepsNoSessionOfTheStationsUserWaiting) {
  auto gadget = plugPhone("stops-reading");
  usbtest::PhoneEnd phone(gadget->phoneTty());  // open, but it reads nothing
  int toChild[2];
  int toParent[2];
  ASSERT_EQ(::pipe(toChild), 0);
  ASSERT_EQ(::pipe(toParent), 0);
  std::atomic<bool> pulled{false};
  std::thread puller([&] {
    char word[4];
    if (::read(toParent[0], word, sizeof word) == 4) {
      gadget->unplug();
      pulled = true;
    }
  });
  ASSERT_EQ(::write(toChild[1], stationTty.c_str(), stationTty.size()), static_cast<ssize_t>(stationTty.size()));
  const int status = runAsStationUser(closeWithBytesQueued, toParent[1], toChild[0]);
  ::close(toParent[1]);
  puller.join();
  for (int fd : {toChild[0], toChild[1], toParent[0]}) ::close(fd);
  EXPECT_NE(status, 100) << "no user " << kStationUser << " (usb-vm.sh --user " << kStationUser << ":dialout)";
  EXPECT_EQ(status, 0) << "step " << status << " failed (see closeWithBytesQueued)";
  EXPECT_TRUE(pulled);
}

}  // namespace
