// The port manager's port on Windows, its algorithm against a scripted
// system: the open and each call of it that fails, the close, and every
// branch of the overlapped write and read.
#include "ports/overlapped_port.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "scripted_serial_system.h"

namespace {

using hxtest::ScriptedSerialSystem;
using Calls = std::vector<std::string>;

const Calls kOpenCalls = {"CreateFileA",  "SetCommMask",        "SetupComm",   "SetCommTimeouts", "GetCommState",
                          "SetCommState", "EscapeCommFunction", "CreateEventA", "CreateEventA",   "PurgeComm"};
const Calls kCloseCalls = {"SetCommMask", "EscapeCommFunction", "PurgeComm", "CloseHandle", "CloseEvent",
                           "CloseEvent"};

Calls cat(Calls a, const Calls& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}


TEST(OverlappedPort, OpensForOverlappedIoWithTheLineItNeedsAndClosesEverything) {
  auto system = std::make_shared<ScriptedSerialSystem>();
  {
    hx::OverlappedPort port(system);
    ASSERT_EQ(port.openComPort(44), 1);
    EXPECT_TRUE(port.isOpen());
    EXPECT_EQ(system->deviceName(), "\\\\.\\COM44");
    EXPECT_TRUE(system->openedOverlapped);
    EXPECT_EQ(system->calls(), cat(kOpenCalls, {"SetCommMask"}));
    EXPECT_EQ(system->queueBytes, (std::pair<uint32_t, uint32_t>{0x20000, 0x20000}));
    EXPECT_EQ(system->timeoutsSet, (std::vector<hx::CommTimeouts>{{0xFFFFFFFF, 0, 0, 0, 10000}}));
    ASSERT_EQ(system->linesSet.size(), 1u);
    const hx::LineState& line = system->linesSet[0];
    EXPECT_EQ(line.baudRate, 19200u);
    EXPECT_EQ(line.byteSize, 8);
    EXPECT_EQ(line.parity, 0);
    EXPECT_EQ(line.stopBits, 0);
    EXPECT_TRUE(line.binary && line.parityCheck && line.abortOnError);
    EXPECT_EQ(line.dtrControl, hx::kDtrControlEnable);
    EXPECT_EQ(line.errorChar, system->reported.errorChar);  // what it does not set, as reported
    EXPECT_EQ(system->escapes, (std::vector<uint32_t>{hx::kSetDtr}));
    EXPECT_EQ(system->purges, (std::vector<uint32_t>{hx::kPurgeRxAbort | hx::kPurgeRxClear}));
    EXPECT_EQ(port.open(44), 0) << "open already";
    EXPECT_EQ(port.openComPort(44), 1) << "open already";
  }
  // The port left open is closed with everything it holds.
  const Calls calls = system->calls();
  EXPECT_EQ(Calls(calls.end() - static_cast<long>(kCloseCalls.size()), calls.end()), kCloseCalls);
  EXPECT_EQ(system->masks.back(), 0u);
  EXPECT_EQ(system->escapes.back(), hx::kClearDtr);
  EXPECT_EQ(system->openHandles(), 0);
}

TEST(OverlappedPort, EachOpenThatFailsHoldsNothing) {
  struct Case {
    std::string failing;
    Calls calls;
  } cases[] = {
      {"CreateFileA", {"CreateFileA"}},
      {"SetCommMask", {"CreateFileA", "SetCommMask", "CloseHandle"}},
      {"SetCommState",
       {"CreateFileA", "SetCommMask", "SetupComm", "SetCommTimeouts", "GetCommState", "SetCommState", "CloseHandle"}},
      {"CreateEventA", cat(Calls(kOpenCalls.begin(), kOpenCalls.begin() + 9), kCloseCalls)},
  };
  for (Case& c : cases) {
    auto system = std::make_shared<ScriptedSerialSystem>();
    system->failing[c.failing] = 2;
    hx::OverlappedPort port(system);
    EXPECT_EQ(port.open(44), 0) << c.failing;
    EXPECT_FALSE(port.isOpen()) << c.failing;
    if (c.failing == "CreateEventA") {
      // Both requests fail: neither is closed, the port is.
      c.calls = cat(Calls(kOpenCalls.begin(), kOpenCalls.begin() + 9),
                    {"SetCommMask", "EscapeCommFunction", "PurgeComm", "CloseHandle"});
    }
    EXPECT_EQ(system->calls(), c.calls) << c.failing;
    EXPECT_EQ(system->openHandles(), 0) << c.failing;
  }
}

struct Opened {
  std::shared_ptr<ScriptedSerialSystem> system = std::make_shared<ScriptedSerialSystem>();
  hx::OverlappedPort port{system};
  size_t openCalls = 0;
  Opened() {
    port.open(44);
    openCalls = system->calls().size();
  }
  Calls callsSinceOpen() const {
    const Calls calls = system->calls();
    return Calls(calls.begin() + static_cast<long>(openCalls), calls.end());
  }
};

TEST(OverlappedPort, WriteBranches) {
  struct Case {
    const char* what;
    std::function<void(ScriptedSerialSystem&)> script;
    int result;
    Calls calls;
    bool staysOpen;
  } cases[] = {
      {"done at once", [](ScriptedSerialSystem&) {}, 1, {"WriteFile"}, true},
      {"pending, then done", [](ScriptedSerialSystem& s) { s.pending = {"WriteFile"}; }, 1,
       {"WriteFile", "GetOverlappedResult", "ClearCommError"}, true},
      {"pending, then incomplete",
       [](ScriptedSerialSystem& s) {
         s.pending = {"WriteFile"};
         s.failing["GetOverlappedResult"] = hx::kErrorIoIncomplete;
       },
       0, {"WriteFile", "GetOverlappedResult"}, true},
      {"pending, then failed",
       [](ScriptedSerialSystem& s) {
         s.pending = {"WriteFile"};
         s.failing["GetOverlappedResult"] = 1117;
       },
       0, {"WriteFile", "GetOverlappedResult", "ClearCommError"}, true},
      {"failed without an error", [](ScriptedSerialSystem& s) { s.failing["WriteFile"] = 0; }, 0, {"WriteFile"}, true},
      {"the port has gone", [](ScriptedSerialSystem& s) { s.failing["WriteFile"] = hx::kErrorAccessDenied; }, 0,
       cat({"WriteFile"}, kCloseCalls), false},
      {"failed otherwise", [](ScriptedSerialSystem& s) { s.failing["WriteFile"] = 87; }, 0,
       {"WriteFile", "ClearCommError"}, true},
  };
  for (const Case& c : cases) {
    Opened o;
    c.script(*o.system);
    const uint8_t bytes[3] = {1, 2, 3};
    EXPECT_EQ(o.port.write(bytes, sizeof bytes), c.result) << c.what;
    EXPECT_EQ(o.callsSinceOpen(), c.calls) << c.what;
    EXPECT_EQ(o.port.isOpen(), c.staysOpen) << c.what;
  }
}

TEST(OverlappedPort, ReadBranches) {
  struct Case {
    const char* what;
    std::function<void(ScriptedSerialSystem&)> script;
    int result;
    Calls calls;
    bool staysOpen;
    std::vector<uint32_t> pauses = {};
  } cases[] = {
      {"nothing queued", [](ScriptedSerialSystem&) {}, 0, {"ClearCommError"}, true},
      {"what is queued, at once", [](ScriptedSerialSystem& s) { s.reads = {{7, 8}}; }, 2,
       {"ClearCommError", "ReadFile"}, true},
      {"error flags, the port there",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.commErrors = 0x10;
       },
       0, {"ClearCommError"}, true},
      {"error flags, the port gone",
       [](ScriptedSerialSystem& s) {
         s.commErrors = 0x10;
         s.errorAfterFlags = hx::kErrorGenFailure;
       },
       0, cat({"ClearCommError"}, kCloseCalls), false, {1000}},
      {"pending, signalled, done",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.pending = {"ReadFile"};
       },
       2, {"ClearCommError", "ReadFile", "WaitForSingleObject", "GetOverlappedResult", "ClearCommError"}, true},
      {"pending, signalled, ended empty",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.pending = {"ReadFile"};
         s.failing["GetOverlappedResult"] = 995;
       },
       0, {"ClearCommError", "ReadFile", "WaitForSingleObject", "GetOverlappedResult"}, true},
      {"pending, not done in time",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.pending = {"ReadFile"};
         s.requestSignalled = false;
       },
       0,
       {"ClearCommError", "ReadFile", "WaitForSingleObject", "CancelIoEx", "GetOverlappedResult", "ClearCommError"},
       true},
      {"failed, no error flags",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.failing["ReadFile"] = hx::kErrorAccessDenied;
       },
       0, {"ClearCommError", "ReadFile", "ClearCommError"}, true},
      {"failed with error flags, the port gone",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.failing["ReadFile"] = hx::kErrorAccessDenied;
         s.commErrorsInTurn = {0, 0x10};
       },
       0, cat({"ClearCommError", "ReadFile", "ClearCommError"}, kCloseCalls), false, {2000}},
      {"failed with error flags otherwise",
       [](ScriptedSerialSystem& s) {
         s.reads = {{7, 8}};
         s.failing["ReadFile"] = 87;
         s.commErrorsInTurn = {0, 0x10};
       },
       0, {"ClearCommError", "ReadFile", "ClearCommError"}, true},
  };
  for (const Case& c : cases) {
    Opened o;
    c.script(*o.system);
    uint8_t dest[4] = {};
    EXPECT_EQ(o.port.read(dest, sizeof dest), c.result) << c.what;
    EXPECT_EQ(o.callsSinceOpen(), c.calls) << c.what;
    EXPECT_EQ(o.port.isOpen(), c.staysOpen) << c.what;
    EXPECT_EQ(o.system->pauses, c.pauses) << c.what;
    for (uint32_t wait : o.system->waits) EXPECT_EQ(wait, 3000u) << c.what;
  }
}

TEST(OverlappedPort, DtrAndLineSpeed) {
  Opened o;
  EXPECT_EQ(o.port.setDtr(0), 0);
  EXPECT_EQ(o.system->escapes.back(), hx::kClearDtr);
  EXPECT_EQ(o.port.setBaudRate(115200), 1);
  EXPECT_EQ(o.system->linesSet.back().baudRate, 115200u);
  // In DTR handshake mode nothing is sent.
  Opened handshake;
  handshake.system->reported.dtrControl = hx::kDtrControlHandshake;
  handshake.port.setBaudRate(19200);
  const size_t escapes = handshake.system->escapes.size();
  EXPECT_EQ(handshake.port.setDtr(1), hx::kDtrControlHandshake);
  EXPECT_EQ(handshake.system->escapes.size(), escapes);
  Opened refused;
  refused.system->failing["SetCommState"] = 87;
  EXPECT_EQ(refused.port.setBaudRate(115200), 0);
}

}  // namespace
