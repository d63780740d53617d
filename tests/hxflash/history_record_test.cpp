// Every phone a flash run ends is in the station's history exactly once,
// with its outcome, code and reason, and stays there whatever ends the run.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <sstream>
#include <thread>

#include "history/local_history.h"
#include "station.h"

namespace {

using hxflash::PhoneRecord;
using hxtest::flashArgs;
using hxtest::Station;
using nlohmann::json;
using testing::HasSubstr;

std::vector<PhoneRecord> recordsIn(const std::string& path) {
  hxflash::LocalHistory history(path, false);
  return history.find({});
}

// The records of each port.
std::map<uint32_t, std::vector<PhoneRecord>> byPort(const std::vector<PhoneRecord>& records) {
  std::map<uint32_t, std::vector<PhoneRecord>> ports;
  for (const PhoneRecord& r : records) ports[r.comPort].push_back(r);
  return ports;
}

// Waits until the history holds a record of `comPort`; false when it did
// not within the tests' patience.
bool waitForRecord(const std::string& path, uint32_t comPort) {
  const auto end = std::chrono::steady_clock::now() + hxtest::kPatience;
  while (std::chrono::steady_clock::now() < end) {
    if (std::filesystem::exists(path) && byPort(recordsIn(path)).count(comPort)) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

// Waits until the --json run has reported `text` on `comPort`.
bool waitForEvent(const hxtest::ProgramRun& run, uint32_t comPort, const std::string& text) {
  const auto end = std::chrono::steady_clock::now() + hxtest::kPatience;
  while (std::chrono::steady_clock::now() < end) {
    std::istringstream lines(run.out());
    for (std::string line; std::getline(lines, line);) {
      const json event = json::parse(line, nullptr, false);
      if (event.is_object() && event.value("port", 0u) == comPort && event.value("text", "") == text) return true;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

// The --json result line of a port.
json resultOf(const std::string& out, uint32_t comPort) {
  for (const json& line : hxtest::jsonLines(out))
    if (line.value("type", "") == "result" && line.value("port", 0u) == comPort) return line;
  return json();
}

TEST(HistoryRecords, AFlashedAFailedAndAPresentPhoneEachHaveOneRecordWithWhatHappened) {
  Station station;
  auto present = station.phone(43);  // plugged in before the run: never flashed
  ASSERT_TRUE(present->waitPlugged());
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42", "-p", "43", "--json", "--station", "bench-7"}));
  ASSERT_TRUE(run->waitForOut("unplug it, then plug it in again")) << run->err();
  auto good = station.phone(41);
  auto failing = station.phone(42, {"--fault", "status-at=write-block"});  // fails inside the FS transfer
  ASSERT_TRUE(waitForRecord(station.historyPath(), 41)) << run->out();
  ASSERT_TRUE(waitForRecord(station.historyPath(), 42)) << run->out();
  run->signal(SIGINT);  // COM43's phone is still there, unflashed
  EXPECT_EQ(run->finish(), 1) << run->err();

  const auto ports = byPort(recordsIn(station.historyPath()));
  ASSERT_EQ(ports.size(), 3u);
  for (const auto& [port, records] : ports) {
    ASSERT_EQ(records.size(), 1u) << "COM" << port;
    const PhoneRecord& r = records.front();
    EXPECT_EQ(r.station, "bench-7");
    EXPECT_EQ(r.package, station.packagePath());
    EXPECT_EQ(r.packageSize, std::filesystem::file_size(station.packagePath()));
    EXPECT_TRUE(r.packageCrc32.has_value());
    EXPECT_EQ(r.id.size(), 32u);
    EXPECT_THAT(r.device, HasSubstr("com" + std::to_string(port)));
    EXPECT_THAT(r.logPath, HasSubstr("com" + std::to_string(port) + ".log"));
    EXPECT_LE(r.started, r.ended);
  }
  const PhoneRecord& flashed = ports.at(41).front();
  EXPECT_EQ(flashed.outcome, "flashed");
  EXPECT_EQ(flashed.code, 0);
  EXPECT_GT(flashed.bytesSent, 0u);
  EXPECT_GT(flashed.seconds, 0.0);

  const PhoneRecord& failed = ports.at(42).front();
  const json result = resultOf(run->out(), 42);
  EXPECT_EQ(failed.outcome, "failed");
  EXPECT_NE(failed.code, 0);
  EXPECT_EQ(failed.code, result.value("code", -1)) << result.dump();
  EXPECT_EQ(failed.reason, result.value("reason", "")) << result.dump();
  EXPECT_EQ(failed.failedStep, result.value("step", "")) << result.dump();
  EXPECT_LT(failed.bytesSent, flashed.bytesSent) << "it failed inside the transfer";

  EXPECT_EQ(ports.at(43).front().outcome, "present-not-flashed");
  EXPECT_EQ(ports.at(43).front().bytesSent, 0u);
  EXPECT_EQ(good->finish(), 0);
  failing->unplug();
  present->unplug();
}

// A run killed after its first phone ended: that phone's record is there,
// whole; a phone cut short by a second Ctrl-C is recorded as cut short.
struct KilledRun {
  const char* name;
  std::vector<int> signals;
  const char* slowPhoneOutcome;  // nullptr: the slow phone has no record
};

class HistoryKilledRun : public testing::TestWithParam<KilledRun> {};

TEST_P(HistoryKilledRun, KeepsThePhoneThatEndedBeforeIt) {
  Station station;
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42", "--json"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto fast = station.phone(41);
  ASSERT_TRUE(waitForRecord(station.historyPath(), 41)) << run->out();
  // A phone on a slow link: its transfer lasts seconds, time for the signals.
  auto slow = station.phone(42, {"--fault", "slow-link=200000"});
  ASSERT_TRUE(waitForEvent(*run, 42, "Start Write NFB Image")) << run->out();
  for (int signal : GetParam().signals) {
    run->signal(signal);
    if (signal == SIGINT) {
      ASSERT_TRUE(run->waitForOut("Ctrl-C")) << run->out();
    }
  }
  run->finish();

  const auto ports = byPort(recordsIn(station.historyPath()));
  ASSERT_EQ(ports.count(41), 1u);
  ASSERT_EQ(ports.at(41).size(), 1u);
  EXPECT_EQ(ports.at(41).front().outcome, "flashed");
  if (GetParam().slowPhoneOutcome) {
    ASSERT_EQ(ports.count(42), 1u);
    EXPECT_EQ(ports.at(42).front().outcome, GetParam().slowPhoneOutcome);
    EXPECT_FALSE(ports.at(42).front().failedStep.empty());
  } else {
    EXPECT_EQ(ports.count(42), 0u);
  }
  fast->finish();
  slow->unplug();
}

INSTANTIATE_TEST_SUITE_P(Signals, HistoryKilledRun,
                         testing::Values(KilledRun{"SigKill", {SIGKILL}, nullptr},
                                         KilledRun{"SecondCtrlC", {SIGINT, SIGINT}, "interrupted"}),
                         [](const testing::TestParamInfo<KilledRun>& test) { return std::string(test.param.name); });

TEST(HistoryRecords, TwoRunsOnOnePortEachWritingOneFileAtOnceLoseNothing) {
  Station station;
  constexpr int kPhones = 2;
  const std::string phones = std::to_string(kPhones);
  auto a = station.hxflash(flashArgs(station, {"-p", "41", "-n", phones, "--station", "a"}));
  auto b = station.hxflash(flashArgs(station, {"-p", "42", "-n", phones, "--station", "b"}));
  ASSERT_TRUE(a->waitForOut("waiting for the phone to be plugged in")) << a->err();
  ASSERT_TRUE(b->waitForOut("waiting for the phone to be plugged in")) << b->err();
  const std::vector<std::string> fresh = {"--after-reset", "fresh", "--phones", phones, "--replug-delay-ms", "8000"};
  auto phoneA = station.phone(41, fresh);
  auto phoneB = station.phone(42, fresh);
  EXPECT_EQ(a->finish(), 0) << a->out() << a->err();
  EXPECT_EQ(b->finish(), 0) << b->out() << b->err();

  const auto ports = byPort(recordsIn(station.historyPath()));
  for (uint32_t port : {41u, 42u}) {
    ASSERT_EQ(ports.count(port), 1u);
    EXPECT_EQ(ports.at(port).size(), static_cast<size_t>(kPhones)) << "COM" << port;
    for (const PhoneRecord& r : ports.at(port)) EXPECT_EQ(r.outcome, "flashed");
  }
  phoneA->unplug();
  phoneB->unplug();
}

}  // namespace
