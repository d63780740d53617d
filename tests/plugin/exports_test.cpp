// The six exports as a host calls them.
#include <gtest/gtest.h>

#include <cstring>

#include "plugin/biz_download.h"
#include "plugin/interface_template.h"
#include "plugin/module_state.h"
#include "recording_host.h"

namespace {

TEST(GetDefinedData, AnswersTheModelQuestions) {
  char text[16];
  int value = 77;

  std::memset(text, '#', sizeof text);
  EXPECT_EQ(GetDefinedData(0, &value, text), 1);
  EXPECT_STREQ(text, "HX9120");
  EXPECT_EQ(GetDefinedData(1, nullptr, text), 1);
  EXPECT_STREQ(text, "IM");
  EXPECT_EQ(value, 77);

  for (unsigned type : {2u, 3u}) {
    std::memset(text, '#', sizeof text);
    value = 77;
    EXPECT_EQ(GetDefinedData(type, &value, nullptr), 1) << type;
    EXPECT_EQ(value, 0) << type;
    EXPECT_EQ(GetDefinedData(type, &value, text), 1) << type;
    EXPECT_EQ(text[0], '#') << "text untouched for type " << type;
  }
}

TEST(GetDefinedData, RefusesUnknownTypesAndMissingBuffers) {
  char text[16];
  int value = 77;
  std::memset(text, '#', sizeof text);
  for (unsigned type : {4u, 5u, 100u, static_cast<unsigned>(-1), static_cast<unsigned>(-7)}) {
    EXPECT_EQ(GetDefinedData(type, &value, text), 0) << type;
  }
  EXPECT_EQ(text[0], '#');
  EXPECT_EQ(value, 77);
  EXPECT_EQ(GetDefinedData(0, &value, nullptr), 0);
  EXPECT_EQ(GetDefinedData(1, &value, nullptr), 0);
  // A host that passes no value pointer gets a refusal, not a crash.
  EXPECT_EQ(GetDefinedData(2, nullptr, text), 0);
}

TEST(Parameters, AreAcceptedAndStoredOnly) {
  EXPECT_EQ(SetParameter(1, 5), 1);
  EXPECT_EQ(SetParameter(20, 6), 1);
  EXPECT_EQ(SetParameter(7, 5), 1);
  EXPECT_EQ(hx::g_setting1.load(), 5);
  EXPECT_EQ(hx::g_setting20.load(), 6);
  EXPECT_EQ(GetParameter(0, 0), 1);
  EXPECT_EQ(GetParameter(-3, 99), 1);
}

TEST(NewDll, CreatesSessionsOnComPortsFromFortyUp) {
  hxtest::RecordingHost host;
  struct Case {
    int port;
    int result;
    int comPort;
  } cases[] = {{0, 1, 40}, {1, 1, 41}, {215, 1, 255}, {216, 0, 0}, {-1, 0, 0}};
  for (const Case& c : cases) {
    CInterfaceTemplate* session = nullptr;
    EXPECT_EQ(NewDll(&host, &session, c.port), c.result) << c.port;
    if (c.result) {
      ASSERT_NE(session, nullptr);
      EXPECT_EQ(static_cast<hx::CBizDownload*>(session)->comPort(), c.comPort);
      EXPECT_EQ(DeleteDll(&session), 1);
    } else {
      EXPECT_EQ(session, nullptr);
    }
  }
}

TEST(NewDll, WithoutCallbackOrSessionPointerFailsAndLeavesThePointer) {
  hxtest::RecordingHost host;
  auto* sentinel = reinterpret_cast<CInterfaceTemplate*>(0x1234);
  CInterfaceTemplate* session = sentinel;
  EXPECT_EQ(NewDll(nullptr, &session, 0), 0);
  EXPECT_EQ(session, sentinel);
  EXPECT_EQ(NewDll(&host, nullptr, 0), 0);
}

TEST(DeleteDll, ClearsThePointerOnceAndRefusesNull) {
  hxtest::RecordingHost host;
  CInterfaceTemplate* session = nullptr;
  EXPECT_EQ(DeleteDll(&session), 0);
  EXPECT_EQ(DeleteDll(nullptr), 0);
  ASSERT_EQ(NewDll(&host, &session, 3), 1);
  EXPECT_EQ(DeleteDll(&session), 1);
  EXPECT_EQ(session, nullptr);
  EXPECT_EQ(DeleteDll(&session), 0);
}

TEST(PreviousLoad, KeepsThePathExactlyAsGiven) {
  EXPECT_EQ(PreviousLoad("/Firmware/Phone.BIN"), 1);
  EXPECT_EQ(hx::packagePath(), "/Firmware/Phone.BIN");
  EXPECT_EQ(PreviousLoad("C:\\Firmware\\Phone.BIN"), 1);
  EXPECT_EQ(hx::packagePath(), "C:\\Firmware\\Phone.BIN");
}

TEST(SetTimeScale, AcceptsOnlyFactorsInTheUnitInterval) {
  EXPECT_EQ(SetTimeScale(0.0), 0);
  EXPECT_EQ(SetTimeScale(1.5), 0);
  EXPECT_EQ(SetTimeScale(0.25), 1);
  EXPECT_EQ(SetTimeScale(1.0), 1);
}

}  // namespace
