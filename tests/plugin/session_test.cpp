// The download session: its wait for a fresh port, Abort, the reset countdown.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <future>
#include <thread>

#include "fake_bootrom.h"
#include "log_capture.h"
#include "platform/clock.h"
#include "plugin/biz_download.h"
#include "ports_dir.h"
#include "pty_pair.h"
#include "recording_host.h"
#include "test_steps.h"

namespace {

using namespace std::chrono_literals;
using hxtest::Report;

constexpr int kPortIndex = 2;  // COM42
constexpr uint32_t kCom = 42;

// Waits (generously) until `condition` holds.
template <class F>
bool eventually(F condition, std::chrono::milliseconds limit = 10s) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

class SessionTest : public ::testing::Test {
 protected:
  void SetUp() override {
    session = std::make_unique<hx::CBizDownload>(kPortIndex);
    session->attachHostCallback(&host);
    steps = std::make_shared<hxtest::TestSteps>();
    session->controller().setSteps(steps);
  }
  void TearDown() override {
    hx::setTimeScale(1.0);
  }

  // The session's attempts on its port, counted by the engine steps it runs.
  uint64_t portProbeAttempts() const { return steps->presenceProbes.load(); }
  uint64_t linkOpenAttempts() const { return steps->linkOpens.load(); }

  std::future<int> startWait() {
    return std::async(std::launch::async, [this] { return session->WaitAndConnect(); });
  }
  static bool finishes(std::future<int>& f) { return f.wait_for(20s) == std::future_status::ready; }

  hxtest::PortsDir ports;
  hxtest::RecordingHost host;
  std::unique_ptr<hx::CBizDownload> session;
  std::shared_ptr<hxtest::TestSteps> steps;
};

// The real presence probe: it tells whether the port is there, and lets go of
// it again, so the protocol link can open it next.
TEST(PresenceProbe, TellsWhetherThePortIsThereAndLeavesItClosed) {
  hxtest::PortsDir ports;
  hx::EngineSteps steps;
  EXPECT_FALSE(steps.portPresent(kCom));
  hxtest::PtyPair phone;
  ports.plug(kCom, phone.slavePath());
  EXPECT_TRUE(steps.portPresent(kCom));
  EXPECT_TRUE(steps.portPresent(kCom));
  std::string why;
  EXPECT_NE(steps.openLink(kCom, 19200, &why), nullptr) << why;
  ports.unplug(kCom);
  EXPECT_FALSE(steps.portPresent(kCom));
}

TEST_F(SessionTest, WaitBeforeInitReturnsAtOnceWithoutTouchingThePort) {
  const auto probes = portProbeAttempts();
  const auto opens = linkOpenAttempts();
  EXPECT_EQ(session->WaitAndConnect(), 1);
  EXPECT_EQ(host.reports(), (std::vector<Report>{{16, 0, ""}}));
  EXPECT_EQ(portProbeAttempts(), probes);
  EXPECT_EQ(linkOpenAttempts(), opens);
}

TEST_F(SessionTest, AbortEndsTheWaitForAbsenceWithAtMostOneMoreAttempt) {
  hxtest::PtyPair phone;
  ports.plug(kCom, phone.slavePath());  // an earlier phone is still attached
  ASSERT_EQ(session->Init(0), 1);
  const auto probes = portProbeAttempts();
  const auto opens = linkOpenAttempts();
  auto wait = startWait();
  ASSERT_TRUE(eventually([&] { return portProbeAttempts() >= probes + 3; }));
  EXPECT_EQ(wait.wait_for(0s), std::future_status::timeout) << "waits while the port is present";
  EXPECT_EQ(session->Abort(), 1);
  const auto atAbort = portProbeAttempts();
  ASSERT_TRUE(finishes(wait));
  EXPECT_EQ(wait.get(), 1);
  EXPECT_LE(portProbeAttempts(), atAbort + 1);
  EXPECT_EQ(linkOpenAttempts(), opens) << "never reached the wait for the port";
  EXPECT_EQ(host.reports(), (std::vector<Report>{{16, 0, ""}}));
  EXPECT_EQ(steps->connects, 0);
}

TEST_F(SessionTest, AbsentPortEndsTheFirstPhaseAfterOneAttemptAndAbortEndsTheSecond) {
  ASSERT_EQ(session->Init(0), 1);
  const auto probes = portProbeAttempts();
  const auto opens = linkOpenAttempts();
  auto wait = startWait();
  ASSERT_TRUE(eventually([&] { return linkOpenAttempts() >= opens + 3; }));
  session->Abort();
  const auto atAbort = linkOpenAttempts();
  ASSERT_TRUE(finishes(wait));
  EXPECT_EQ(wait.get(), 1);
  EXPECT_EQ(portProbeAttempts(), probes + 1);
  EXPECT_LE(linkOpenAttempts(), atAbort + 1);
  EXPECT_EQ(host.reports(), (std::vector<Report>{{16, 0, ""}}));
  EXPECT_EQ(steps->connects, 0);
}

TEST_F(SessionTest, WaitsForThePhoneToGoAndComeBackThenConnects) {
  hxtest::PtyPair oldPhone;
  ports.plug(kCom, oldPhone.slavePath());
  ASSERT_EQ(session->Init(0), 1);
  hxtest::LogCapture log;
  const auto probes = portProbeAttempts();
  const auto opens = linkOpenAttempts();
  auto wait = startWait();
  ASSERT_TRUE(eventually([&] { return portProbeAttempts() >= probes + 3; }));
  EXPECT_EQ(linkOpenAttempts(), opens);

  ports.unplug(kCom);  // the old phone is taken away
  ASSERT_TRUE(eventually([&] { return linkOpenAttempts() >= opens + 2; }));
  EXPECT_EQ(steps->connects, 0);

  hxtest::PtyPair newPhone;
  ports.plug(kCom, newPhone.slavePath());
  ASSERT_TRUE(finishes(wait));
  EXPECT_EQ(wait.get(), 1);
  EXPECT_EQ(steps->connects, 1);
  EXPECT_TRUE(session->controller().portOpen());
  EXPECT_EQ(session->controller().comPortNumber(), kCom);
  EXPECT_EQ(host.reports(), (std::vector<Report>{{16, 0, ""}}));
  // The wait said once that a phone was still attached, and when it had gone.
  const auto lines = log.lines();
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].text, "COM42: a phone is still attached; waiting for it to go");
  EXPECT_EQ(lines[0].comPort, kCom);
  EXPECT_EQ(lines[1].text, "COM42: the phone has gone; waiting for the next one");
}

TEST_F(SessionTest, DownloadClosesThePortWhateverTheOutcome) {
  hxtest::PtyPair phone;
  ports.plug(kCom, phone.slavePath());
  hx::setTimeScale(0.0001);
  for (int result : {0, 4004}) {
    steps->downloadResult = result;
    ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
    session->Download();
    EXPECT_FALSE(session->controller().portOpen()) << result;
    // The port is free again for the next phone's wait.
    ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
    session->controller().closePort();
  }
}

TEST_F(SessionTest, SuccessfulDownloadCountsDownEightyToOne) {
  hx::setTimeScale(0.0001);
  ASSERT_EQ(session->Init(0), 1);
  steps->fakePorts = true;
  ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
  steps->downloadResult = 0;
  // An Abort during the countdown does not shorten it.
  steps->onDownload = [this](hx::SessionReport&) { session->Abort(); };
  EXPECT_EQ(session->Download(), 1);
  std::vector<Report> expected;
  for (int left = 80; left >= 1; --left)
    expected.push_back({2, 100, "Waiting for Reset " + std::to_string(left) + " sec.."});
  EXPECT_EQ(host.reports(), expected);
}

TEST_F(SessionTest, FailedDownloadSendsNoCountdown) {
  hx::setTimeScale(0.0001);
  ASSERT_EQ(session->Init(0), 1);
  steps->fakePorts = true;
  ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
  steps->downloadResult = 4004;
  EXPECT_EQ(session->Download(), 0);
  EXPECT_TRUE(host.reports().empty());
}

// A BootROM whose checksum of the first agent is wrong; it counts every read
// and write that reaches it.
class CountingBootRom final : public hx::test::FakeBootRom {
 public:
  explicit CountingBootRom(std::atomic<int>& traffic) : m_traffic(traffic) { checksumAdjust = 0x0100; }
  int write(const uint8_t* bytes, size_t n) override {
    ++m_traffic;
    return FakeBootRom::write(bytes, n);
  }
  int read(uint8_t* dest, size_t n, size_t* got) override {
    ++m_traffic;
    return FakeBootRom::read(dest, n, got);
  }

 private:
  std::atomic<int>& m_traffic;
};

TEST_F(SessionTest, AWrongAgentChecksumFailsTheDownloadAtOnceWithItsCode) {
  hx::setTimeScale(0.0001);
  std::atomic<int> traffic{0};
  steps->makeLink = [&traffic] { return std::make_unique<CountingBootRom>(traffic); };
  steps->realConnect = true;
  steps->realDownload = true;
  ASSERT_EQ(session->Init(0), 1);
  hxtest::LogCapture log;
  ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
  session->controller().Connect();
  ASSERT_GT(traffic.load(), 0);
  traffic = 0;
  EXPECT_EQ(session->Download(), 0);
  EXPECT_EQ(traffic.load(), 0) << "nothing is sent to or read from a phone that runs no agent";
  EXPECT_EQ(steps->downloads.load(), 0);
  EXPECT_TRUE(host.reports().empty()) << "no \"Start DA Connect\"";
  const auto lines = log.lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back().comPort, kCom);
  EXPECT_EQ(lines.back().code, 2004) << lines.back().text;
  EXPECT_NE(lines.back().text.find("Sending DA1"), std::string::npos) << lines.back().text;
  EXPECT_NE(lines.back().text.find("checksum"), std::string::npos) << lines.back().text;
}

// A port that answers every handshake byte wrongly, at once and for ever;
// it calls `onRead` before each read.
class BabblingLink final : public hx::Link {
 public:
  std::function<void()> onRead;
  int write(const uint8_t*, size_t) override { return 0; }
  int read(uint8_t* dest, size_t n, size_t* got) override {
    if (onRead) onRead();
    std::fill(dest, dest + n, 0x00);
    *got = n;
    return 0;
  }
  int setTimeouts(uint32_t, uint32_t) override { return 0; }
};

TEST_F(SessionTest, AbortDuringAHandshakeOfWrongAnswersEndsItPromptlyAndIsLoggedAsStopped) {
  int reads = 0, readsAfterAbort = 0;
  steps->makeLink = [&] {
    auto link = std::make_unique<BabblingLink>();
    link->onRead = [&] {
      if (++reads == 1000) session->Abort();
      if (reads > 1000) ++readsAfterAbort;
    };
    return link;
  };
  steps->realConnect = true;
  ASSERT_EQ(session->Init(0), 1);
  hxtest::LogCapture log;
  ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
  session->controller().Connect();
  EXPECT_LE(readsAfterAbort, 10) << "the late answers are dropped until the bound, not until Abort";
  const std::string text = log.text();
  EXPECT_NE(text.find("COM42: BootROM handshake stopped"), std::string::npos) << text;
  EXPECT_EQ(text.find("BootROM connection failed"), std::string::npos) << text;
}

TEST_F(SessionTest, AFailedJumpCommandStillGoesOnToTheAgentConnection) {
  hx::setTimeScale(0.0001);
  steps->fakePorts = true;
  steps->connectResult = hx::kBromJumpFailed;  // the agent may be running
  steps->downloadResult = 4004;
  ASSERT_EQ(session->Init(0), 1);
  hxtest::LogCapture log;
  ASSERT_EQ(session->controller().openPort(19200, kCom), 0);
  session->controller().Connect();
  EXPECT_EQ(session->Download(), 0);
  EXPECT_EQ(steps->downloads.load(), 1);
  EXPECT_EQ(log.lines().back().code, 4004);
}

TEST_F(SessionTest, RealDownloadWithoutAConnectedPhoneFails) {
  session->controller().setSteps(hx::realEngineSteps());
  ASSERT_EQ(session->Init(0), 1);
  EXPECT_EQ(session->Download(), 0);
  EXPECT_TRUE(host.reports().empty());
}

TEST_F(SessionTest, OptionsAndTimer) {
  for (int option : {0, 1, 3}) EXPECT_EQ(session->CheckOption(option, 9), 1) << option;
  for (int option : {2, 4, -1}) EXPECT_EQ(session->CheckOption(option, 9), 0) << option;

  EXPECT_EQ(session->TimerControl(0), 1);
  EXPECT_TRUE(session->timerRunning());
  const uint32_t start = session->timerStart();
  EXPECT_EQ(session->TimerControl(2), 0);
  EXPECT_TRUE(session->timerRunning());
  EXPECT_EQ(session->timerStart(), start);
  EXPECT_EQ(session->TimerControl(1), 1);
  EXPECT_FALSE(session->timerRunning());
  EXPECT_EQ(session->TimerControl(-5), 0);
  EXPECT_FALSE(session->timerRunning());
}

}  // namespace
