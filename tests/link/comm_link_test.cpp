// The protocol link on Windows, its algorithm against a scripted system: every
// call that can fail, what the link returns and says, what it closes, and the
// watchdog that bounds a flush.
#include "link/comm_link.h"

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "scripted_serial_system.h"

namespace {

using hxtest::ScriptedSerialSystem;
using Calls = std::vector<std::string>;

constexpr uint32_t kCom = 41;
const Calls kOpenCalls = {"CreateFileA",  "ClearCommError", "SetupComm", "GetCommState",
                          "SetCommState", "ClearCommBreak", "PurgeComm", "SetCommTimeouts"};

std::unique_ptr<hx::SerialPortLink> open(const std::shared_ptr<ScriptedSerialSystem>& system, std::string* why) {
  return hx::openCommLink(system, kCom, 19200, why);
}

TEST(CommLink, OpensTheLineAsTheProtocolNeedsItKeepingWhatItDoesNotSet) {
  auto system = std::make_shared<ScriptedSerialSystem>();
  std::string why;
  auto link = open(system, &why);
  ASSERT_NE(link, nullptr) << why;
  EXPECT_EQ(system->deviceName(), "\\\\.\\COM41");
  EXPECT_EQ(system->calls(), kOpenCalls);
  EXPECT_EQ(system->queueBytes, (std::pair<uint32_t, uint32_t>{8192, 8192}));
  hx::LineState expected = system->reported;
  expected.baudRate = 19200;
  expected.dtrControl = hx::kDtrControlEnable;
  expected.rtsControl = hx::kRtsControlEnable;
  expected.abortOnError = false;
  expected.byteSize = 8;
  expected.parity = 0;
  expected.stopBits = 0;
  ASSERT_EQ(system->linesSet.size(), 1u);
  EXPECT_EQ(system->linesSet[0], expected);
  EXPECT_EQ(system->purges, (std::vector<uint32_t>{0xF}));
  EXPECT_EQ(system->timeoutsSet, (std::vector<hx::CommTimeouts>{{0, 1, 20, 1, 5000}}));
  link.reset();
  EXPECT_EQ(system->openHandles(), 0);
}

// usbser under Wine (cdc-acm) refuses to clear a break on a device that
// declares no break signalling, as a phone's BootROM port does: the port
// opens all the same.
TEST(CommLink, APortThatCannotSignalABreakOpens) {
  auto system = std::make_shared<ScriptedSerialSystem>();
  system->failing["ClearCommBreak"] = hx::kErrorNotSupported;
  std::string why;
  auto link = open(system, &why);
  EXPECT_NE(link, nullptr) << why;
  EXPECT_EQ(system->calls(), kOpenCalls);
}

TEST(CommLink, EachFailingCallOfTheOpenGivesNoLinkNamesTheCallAndClosesTheHandle) {
  for (size_t failing = 0; failing < kOpenCalls.size(); ++failing) {
    const std::string& call = kOpenCalls[failing];
    auto system = std::make_shared<ScriptedSerialSystem>();
    system->failing[call] = ScriptedSerialSystem::kInvalidParameter;
    std::string why;
    EXPECT_EQ(open(system, &why), nullptr) << call;
    EXPECT_EQ(why, "COM41: " + call + " failed (error 87)");
    Calls expected(kOpenCalls.begin(), kOpenCalls.begin() + static_cast<long>(failing) + 1);
    if (failing > 0) expected.push_back("CloseHandle");
    EXPECT_EQ(system->calls(), expected) << call;
    EXPECT_EQ(system->openHandles(), 0) << call;
  }
}

struct OpenLink {
  std::shared_ptr<ScriptedSerialSystem> system = std::make_shared<ScriptedSerialSystem>();
  std::unique_ptr<hx::SerialPortLink> link;
  OpenLink() {
    std::string why;
    link = open(system, &why);
  }
};

TEST(CommLink, WritesAndTheirFailures) {
  struct Case {
    const char* what;
    std::function<void(ScriptedSerialSystem&)> script;
    int result;
    std::string detail;
  } cases[] = {
      {"written and flushed", [](ScriptedSerialSystem&) {}, 0, ""},
      {"WriteFile fails, the port gone", [](ScriptedSerialSystem& s) { s.failing["WriteFile"] = 5; }, 3,
       "the port went away (hang-up)"},
      {"WriteFile fails otherwise", [](ScriptedSerialSystem& s) { s.failing["WriteFile"] = 87; }, 3,
       "the port went away (device error: Windows error 87)"},
      {"nothing taken", [](ScriptedSerialSystem& s) { s.writeTakes = 0; }, 2, ""},
      {"part taken", [](ScriptedSerialSystem& s) { s.writeTakes = 3; }, 3, "the port took only 3 of 8 bytes in time"},
      {"flush fails", [](ScriptedSerialSystem& s) { s.failing["FlushFileBuffers"] = 31; }, 3,
       "the port went away (hang-up)"},
      {"the flush bound cannot be kept", [](ScriptedSerialSystem& s) { s.failing["OpenThread"] = 5; }, 3,
       "the flush could not be bounded"},
  };
  for (const Case& c : cases) {
    OpenLink open;
    ASSERT_NE(open.link, nullptr);
    c.script(*open.system);
    const uint8_t bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(open.link->write(bytes, sizeof bytes), c.result) << c.what;
    if (c.result == 3) {
      EXPECT_EQ(open.link->failureDetail(), c.detail) << c.what;
    }
    open.link.reset();
    EXPECT_EQ(open.system->openHandles(), 0) << c.what;
  }
}

TEST(CommLink, AFlushThatHangsIsCancelledAtTheWritesDeadline) {
  OpenLink open;
  ASSERT_NE(open.link, nullptr);
  ASSERT_EQ(open.link->setTimeouts(20, 50), 0);
  open.system->flushHangs = true;
  const uint8_t bytes[4] = {};
  EXPECT_EQ(open.link->write(bytes, sizeof bytes), 3);
  EXPECT_EQ(open.link->failureDetail(), "the port did not send its bytes in time");
  EXPECT_EQ(open.system->cancelledFlushes(), 1);
}

// A stalling device: the write uses up its time, so the deadline has passed
// when the watchdog is armed, and its first cancel reaches the system before
// the flush is pending, where it cancels nothing. The flush is bounded all
// the same (by a later cancel, not by the script's own bound).
TEST(CommLink, AFlushNotYetPendingWhenItsDeadlinePassesIsStillCancelled) {
  OpenLink open;
  ASSERT_NE(open.link, nullptr);
  ASSERT_EQ(open.link->setTimeouts(20, 10), 0);
  open.system->writeLasts = std::chrono::milliseconds(100);  // the write may last 4 + 10 ms
  open.system->flushHangs = true;
  open.system->flushPendsAfterADroppedCancel = true;
  const uint8_t bytes[4] = {};
  EXPECT_EQ(open.link->write(bytes, sizeof bytes), 3);
  EXPECT_EQ(open.link->failureDetail(), "the port did not send its bytes in time");
  EXPECT_EQ(open.system->cancelledFlushes(), 1);
  EXPECT_GE(open.system->cancels(), 2);
}

// A flush armed after an earlier one keeps its own deadline: the earlier
// one's passing cancels nothing of it.
TEST(CommLink, AnEarlierFlushsDeadlineNeverCancelsALaterFlush) {
  OpenLink open;
  ASSERT_NE(open.link, nullptr);
  const uint8_t bytes[4] = {};
  ASSERT_EQ(open.link->setTimeouts(20, 30), 0);
  ASSERT_EQ(open.link->write(bytes, sizeof bytes), 0);  // armed until 34 ms from now, then disarmed
  ASSERT_EQ(open.link->setTimeouts(20, 5000), 0);
  open.system->flushHangs = true;
  std::thread releaser([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    open.system->release();
  });
  EXPECT_EQ(open.link->write(bytes, sizeof bytes), 0);
  releaser.join();
  EXPECT_EQ(open.system->cancels(), 0);
}

TEST(CommLink, ReadsAndTheirFailures) {
  struct Case {
    const char* what;
    std::function<void(ScriptedSerialSystem&)> script;
    int result;
    size_t got;
    std::string detail;
  } cases[] = {
      {"all four", [](ScriptedSerialSystem& s) { s.reads = {{1, 2, 3, 4}}; }, 0, 4, ""},
      {"nothing, the port still there", [](ScriptedSerialSystem&) {}, 1, 0, ""},
      {"nothing, the port's state unreadable", [](ScriptedSerialSystem& s) { s.failing["ClearCommError"] = 22; }, 3, 0,
       "the port went away (hang-up)"},
      {"some", [](ScriptedSerialSystem& s) { s.reads = {{1, 2}}; }, 3, 2, ""},
      {"ReadFile fails", [](ScriptedSerialSystem& s) { s.failing["ReadFile"] = 1167; }, 3, 0,
       "the port went away (hang-up)"},
  };
  for (const Case& c : cases) {
    OpenLink open;
    ASSERT_NE(open.link, nullptr);
    c.script(*open.system);
    uint8_t dest[4] = {};
    size_t got = 99;
    EXPECT_EQ(open.link->read(dest, sizeof dest, &got), c.result) << c.what;
    EXPECT_EQ(got, c.got) << c.what;
    if (!c.detail.empty()) {
      EXPECT_EQ(open.link->failureDetail(), c.detail) << c.what;
    }
  }
}

TEST(CommLink, TimeoutsAndLineSpeed) {
  OpenLink open;
  ASSERT_NE(open.link, nullptr);
  EXPECT_EQ(open.link->setTimeouts(500, 5000), 0);
  EXPECT_EQ(open.system->timeoutsSet.back(), (hx::CommTimeouts{0, 1, 500, 1, 5000}));
  EXPECT_EQ(open.link->changeBaudRate(115200), 0);
  hx::LineState expected = open.system->reported;
  expected.baudRate = 115200;
  EXPECT_EQ(open.system->linesSet.back(), expected);  // only the speed changes
  for (const char* call : {"SetCommTimeouts", "GetCommState", "SetCommState"}) {
    OpenLink failing;
    ASSERT_NE(failing.link, nullptr);
    failing.system->failing[call] = 31;
    const bool timeouts = std::string(call) == "SetCommTimeouts";
    EXPECT_EQ(timeouts ? failing.link->setTimeouts(500, 5000) : failing.link->changeBaudRate(115200), 3) << call;
  }
}

}  // namespace
