// Engine events find their session by COM number.
#include <gtest/gtest.h>

#include <thread>

#include "platform/clock.h"
#include "plugin/biz_download.h"
#include "plugin/event_bridge.h"
#include "protocol/engine_events.h"
#include "recording_host.h"
#include "test_steps.h"

namespace {

using hxtest::Report;

// A session connected (through fake ports) on COM 40 + portIndex.
struct ConnectedSession {
  explicit ConnectedSession(int portIndex) : session(portIndex) {
    session.attachHostCallback(&host);
    steps->fakePorts = true;
    session.controller().setSteps(steps);
    session.Init(0);
    session.controller().openPort(19200, static_cast<uint32_t>(session.comPort()));
    session.controller().Connect();
  }
  hxtest::RecordingHost host;
  std::shared_ptr<hxtest::TestSteps> steps = std::make_shared<hxtest::TestSteps>();
  hx::CBizDownload session;
};

TEST(EngineEventProc, TurnsEachKindIntoItsHostReport) {
  ConnectedSession s(10);  // COM50
  struct Case {
    unsigned kind;
    int value;
    const char* text;
    std::vector<Report> expected;
  } cases[] = {
      {0, 7, "ignored", {{2, 100, "Download Complete"}}},
      {1, 9, "ignored", {{3, 0, "Error"}}},
      {2, 5, "dropped", {}},
      {3, 42, "ignored", {{1, 42, ""}}},
      {4, 30, "Send BootRom & Bootloader version", {{2, 30, "Send BootRom & Bootloader version"}}},
      {5, 0, "Start DA Connect", {{2, 0, "Start DA Connect"}}},
      {6, 1, "dropped", {}},
      {200, 1, "dropped", {}},
  };
  size_t seen = 0;
  for (const Case& c : cases) {
    hx::EngineEventProc(50, c.kind, c.value, c.text);
    const auto reports = s.host.reports();
    ASSERT_EQ(reports.size(), seen + c.expected.size()) << "kind " << c.kind;
    EXPECT_EQ(std::vector<Report>(reports.begin() + static_cast<long>(seen), reports.end()), c.expected)
        << "kind " << c.kind;
    seen = reports.size();
  }
  EXPECT_TRUE(s.host.altReports().empty());
}

TEST(EngineEventProc, DropsEventsForUnknownPortsAndDestroyedSessions) {
  hxtest::RecordingHost bystander;
  {
    ConnectedSession s(11);  // COM51
    hx::EngineEventProc(52, 5, 0, "Start DA Connect");
    EXPECT_TRUE(s.host.reports().empty());
    EXPECT_EQ(hx::registeredController(51), &s.session.controller());
  }
  EXPECT_EQ(hx::registeredController(51), nullptr);
  hx::EngineEventProc(51, 5, 0, "Start DA Connect");  // must not reach freed memory
}

TEST(EngineEventProc, ASessionThatNeverInitialisedReceivesNothing) {
  hxtest::RecordingHost host;
  hx::CBizDownload session(12);  // COM52
  session.attachHostCallback(&host);
  auto steps = std::make_shared<hxtest::TestSteps>();
  steps->fakePorts = true;
  session.controller().setSteps(steps);
  session.controller().openPort(19200, 52);
  session.controller().Connect();
  hx::EngineEventProc(52, 5, 0, "Start DA Connect");
  EXPECT_TRUE(host.reports().empty());
}

TEST(EngineEventProc, ConcurrentDownloadsEachSeeOnlyTheirOwnEvents) {
  hx::setTimeScale(0.0001);
  ConnectedSession a(0), b(1);  // COM40, COM41
  constexpr int kEvents = 300;
  auto emit = [](int comPort) {
    return [text = "COM" + std::to_string(comPort)](hx::SessionReport& report) {
      for (int i = 0; i < kEvents; ++i) report.subStep(i, text.c_str());
    };
  };
  a.steps->onDownload = emit(a.session.comPort());
  b.steps->onDownload = emit(b.session.comPort());
  std::thread ta([&] { EXPECT_EQ(a.session.Download(), 1); });
  std::thread tb([&] { EXPECT_EQ(b.session.Download(), 1); });
  ta.join();
  tb.join();
  hx::setTimeScale(1.0);

  for (auto* s : {&a, &b}) {
    const std::string own = "COM" + std::to_string(s->session.comPort());
    const auto reports = s->host.reports();
    ASSERT_EQ(reports.size(), static_cast<size_t>(kEvents + 80));
    for (int i = 0; i < kEvents; ++i) EXPECT_EQ(reports[static_cast<size_t>(i)], (Report{2, i, own}));
  }
}

}  // namespace
