// `hxflash flash` runs against virtual phones: waiting for phones, one run
// per COM port, Ctrl-C, and its JSON lines.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>
#include <signal.h>

#include <ctime>
#include <filesystem>
#include <map>
#include <set>

#include "expected_events.h"
#include "station.h"

namespace {

using hxflash::HostEvent;
using hxtest::flashArgs;
using hxtest::Station;
using nlohmann::json;
using testing::HasSubstr;

size_t occurrences(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A --json run's lines sorted out: each port's events, each port's result,
// and the summary, which must come last.
struct JsonRun {
  std::map<uint32_t, std::vector<HostEvent>> events;
  std::map<uint32_t, json> results;
  json summary;
};

// ISO 8601 with milliseconds and the UTC offset.
const std::regex kIsoTime("^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2}$");

JsonRun sortOut(const std::string& out) {
  JsonRun run;
  const std::vector<json> lines = hxtest::jsonLines(out);
  for (size_t i = 0; i < lines.size(); ++i) {
    const json& line = lines[i];
    const std::string type = line.value("type", "");
    EXPECT_TRUE(std::regex_match(line.value("time", ""), kIsoTime)) << "every line has its time: " << line.dump();
    if (type == "notice") continue;
    if (type == "event") {
      EXPECT_EQ(line["phone"], 1) << line.dump();
      run.events[line["port"].get<uint32_t>()].push_back(
          HostEvent{line["code"].get<int>(), line["value"].get<int>(), line["text"].get<std::string>()});
    } else if (type == "result") {
      run.results[line["port"].get<uint32_t>()] = line;
    } else if (type == "summary") {
      EXPECT_EQ(i + 1, lines.size()) << "the summary ends the output";
      run.summary = line;
    } else {
      ADD_FAILURE() << "a line of no known type: " << line.dump();
    }
  }
  return run;
}

TEST(FlashWaiting, APortPluggedInLaterAndAPhoneRepluggedAfterTheStartAreFlashed) {
  Station station;
  auto present = station.phone(42);  // plugged in before the run starts
  ASSERT_TRUE(present->waitPlugged());
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42"}));
  ASSERT_TRUE(run->waitForOut("unplug it, then plug it in again")) << run->err();
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in"));

  auto late = station.phone(41);
  present->unplug();  // the operator takes the phone away ...
  auto replugged = station.phone(42);  // ... and plugs it in again
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_EQ(present->record()["bootrom"]["handshakes"], 0) << "a phone present at the start is not flashed";
  EXPECT_EQ(late->finish(), 0);
  EXPECT_EQ(replugged->finish(), 0);

  const std::string out = run->out();
  EXPECT_EQ(occurrences(out, "COM41   waiting for the phone to be plugged in"), 1u) << out;
  EXPECT_EQ(occurrences(out, "COM42   a phone is plugged in already: unplug it, then plug it in again"), 1u)
      << out;
  EXPECT_THAT(out, HasSubstr("COM41      1  flashed"));
  EXPECT_THAT(out, HasSubstr("COM42      1  flashed"));
}

// The default log folder is named for the second the run began, with "-2"
// when a run of that second has the name already, and only its user may
// enter it.
TEST(FlashLogFolder, IsNamedForTheRunsSecondWithASuffixWhenTheNameIsTaken) {
  Station station;
  const std::string tmp = station.dir() + "/tmp";
  std::filesystem::create_directory(tmp);
  // Every name of the next two minutes is taken, as by runs that began then.
  std::set<std::string> taken;
  const std::time_t now = std::time(nullptr);
  for (std::time_t t = now - 1; t <= now + 120; ++t) {
    std::tm local{};
    localtime_r(&t, &local);
    char name[64] = {};
    std::strftime(name, sizeof name, "hxflash-%Y-%m-%dT%H-%M-%S", &local);
    std::filesystem::create_directory(tmp + "/" + name);
    taken.insert(name);
  }
  std::vector<std::string> argv = {"/usr/bin/env", "TMPDIR=" + tmp, HXFLASH_PATH, "flash", station.packagePath(),
                                   "-p", "41"};
  argv.insert(argv.end(), hxtest::kScaledTime.begin(), hxtest::kScaledTime.end());
  auto run = station.run(argv);
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 130);

  std::smatch folder;
  const std::string out = run->out();
  ASSERT_TRUE(std::regex_search(out, folder, std::regex("logs in " + tmp + "/(hxflash-[-0-9T]+)-2\\n"))) << out;
  EXPECT_EQ(taken.count(folder[1]), 1u) << folder[1] << " is no name of the run's second";
  const auto perms = std::filesystem::status(tmp + "/" + folder[1].str() + "-2").permissions();
  EXPECT_EQ(perms, std::filesystem::perms::owner_all);
}

TEST(FlashLock, ASecondRunOnAComPortIsRefusedNamingTheFirst) {
  Station station;
  auto first = station.hxflash(flashArgs(station, {"-p", "45"}));
  ASSERT_TRUE(first->waitForOut("waiting for the phone to be plugged in")) << first->err();
  auto second = station.hxflash(flashArgs(station, {"-p", "46", "-p", "45"}));
  EXPECT_EQ(second->finish(), 2);
  EXPECT_THAT(second->err(),
              HasSubstr("COM45 is served by another hxflash run (process " + std::to_string(first->pid()) + ")"));
  EXPECT_EQ(second->out(), "");
  // The refused run gave up the ports it had taken.
  auto third = station.hxflash(flashArgs(station, {"-p", "46"}));
  EXPECT_TRUE(third->waitForOut("waiting for the phone to be plugged in")) << third->err();

  first->signal(SIGINT);
  third->signal(SIGINT);
  EXPECT_EQ(first->finish(), 130);
  EXPECT_EQ(third->finish(), 130);
  EXPECT_FALSE(std::filesystem::exists(station.ports().path() + "/com45.lock")) << "an ended run leaves no lock";
}

TEST(FlashInterrupt, CtrlCWhileWaitingEndsTheRunPromptlyWith130) {
  Station station;
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42", "-n", "3"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(std::chrono::seconds(20)), 130);
  EXPECT_THAT(run->out(), HasSubstr("COM41      1  not flashed"));
  EXPECT_THAT(run->out(), HasSubstr("0 of 2 phones flashed"));
  EXPECT_THAT(run->out(), testing::Not(HasSubstr("phone connected")));
}

// A phone on a slow link: its transfer lasts seconds, time for Ctrl-C.
class FlashInterruptedTransfer : public testing::Test {
 protected:
  void startTransfer(const char* bytesPerSecond) {
    run = station.hxflash(flashArgs(station, {"-p", "41", "--json"}));
    ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
    phone = station.phone(41, {"--fault", std::string("slow-link=") + bytesPerSecond});
    ASSERT_TRUE(run->waitForOut("\"Start Write NFB Image\"")) << run->out() << run->err();
  }
  json result(int exitStatus) {
    const JsonRun lines = sortOut(run->out());
    EXPECT_EQ(lines.summary["interrupted"], true);
    EXPECT_EQ(lines.summary["exitStatus"], exitStatus);
    return lines.results.count(41) ? lines.results.at(41) : json();
  }

  Station station;
  std::unique_ptr<hxtest::PhoneProcess> phone;
  std::unique_ptr<hxtest::ProgramRun> run;
};

// The phone in its reset countdown is flashed: nothing was left unflashed.
TEST_F(FlashInterruptedTransfer, CtrlCLetsTheTransferFinishThenEndsWith0) {
  ASSERT_NO_FATAL_FAILURE(startTransfer("1000000"));
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 0);
  EXPECT_THAT(run->out(), HasSubstr("transfers under way will finish"));
  const json r = result(0);
  EXPECT_EQ(r["ok"], true) << r.dump();
  EXPECT_EQ(r["outcome"], "flashed-reset-not-awaited") << r.dump();
  EXPECT_EQ(phone->finish(), 0) << "the phone took the whole download and reset";
  EXPECT_FALSE(phone->record()["watchdog"].is_null());
}

TEST_F(FlashInterruptedTransfer, ASecondCtrlCQuitsAtOnceAndSaysToFlashThePhoneAgain) {
  ASSERT_NO_FATAL_FAILURE(startTransfer("200000"));
  run->signal(SIGINT);
  ASSERT_TRUE(run->waitForOut("Ctrl-C again quits at once"));
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 1) << "a phone cut short";
  EXPECT_THAT(run->out(), HasSubstr("phones still transferring must be flashed again"));
  const json r = result(1);
  EXPECT_EQ(r["ok"], false) << r.dump();
  EXPECT_EQ(r["outcome"], "interrupted") << r.dump();
  EXPECT_THAT(r["step"].get<std::string>(), HasSubstr("ROM Image"));
  phone->unplug();
  EXPECT_TRUE(phone->record()["watchdog"].is_null()) << "the download did not reach its end";
}

TEST(FlashJson, TwoPhonesAtOnceEachPortWithItsOwnEventsAndResult) {
  Station station;
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42", "--json"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto a = station.phone(41);
  auto b = station.phone(42);
  EXPECT_EQ(run->finish(), 0) << run->err();
  EXPECT_THAT(run->err() + run->out(), testing::Not(HasSubstr("Connecting to BootROM")))
      << "the module's lines stay in module.log";

  const JsonRun lines = sortOut(run->out());
  const auto expected = hxtest::expectedSuccessEvents(station.package());
  for (uint32_t port : {41u, 42u}) {
    EXPECT_EQ(lines.events.at(port), expected) << "COM" << port << ":\n" << hxtest::describe(lines.events.at(port));
    const json& r = lines.results.at(port);
    EXPECT_EQ(r["phone"], 1);
    EXPECT_EQ(r["ok"], true) << r.dump();
    EXPECT_EQ(r["step"], "");
    EXPECT_GT(r["seconds"].get<double>(), 0.0);
  }
  EXPECT_EQ(lines.events.size(), 2u);
  EXPECT_EQ(lines.summary["phones"], 2);
  EXPECT_EQ(lines.summary["flashed"], 2);
  EXPECT_EQ(lines.summary["exitStatus"], 0);
  EXPECT_EQ(a->finish(), 0);
  EXPECT_EQ(b->finish(), 0);
}

TEST(FlashJson, ARefusalIsOneRefusalLine) {
  Station station;
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "41", "--json"}));
  EXPECT_EQ(run->finish(), 2);
  const std::vector<json> lines = hxtest::jsonLines(run->out());
  ASSERT_EQ(lines.size(), 1u) << run->out();
  EXPECT_EQ(lines[0]["type"], "refusal");
  EXPECT_TRUE(std::regex_match(lines[0].value("time", ""), kIsoTime)) << lines[0].dump();
  EXPECT_THAT(lines[0]["reason"].get<std::string>(), HasSubstr("COM41")) << lines[0].dump();
}

TEST(FlashJson, OneFailingPhoneAmongGoodOnesEndsWith1AndNamesItsStep) {
  Station station;
  auto run = station.hxflash(flashArgs(station, {"-p", "41", "-p", "42", "--json"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto good = station.phone(41);
  auto failing = station.phone(42, {"--fault", "no-rom-info"});  // fails where the FS images begin
  EXPECT_EQ(run->finish(), 1) << run->err();

  const JsonRun lines = sortOut(run->out());
  EXPECT_EQ(lines.results.at(41)["ok"], true);
  const json& bad = lines.results.at(42);
  EXPECT_EQ(bad["ok"], false) << bad.dump();
  EXPECT_EQ(bad["outcome"], "failed");
  EXPECT_EQ(bad["step"], "Start Write FS Image");
  EXPECT_EQ(bad["code"], 1024) << bad.dump();
  EXPECT_THAT(bad["reason"].get<std::string>(), HasSubstr("the phone's ROM information was not found")) << bad.dump();
  EXPECT_FALSE(lines.results.at(41).contains("code"));
  EXPECT_EQ(lines.summary["flashed"], 1);
  EXPECT_EQ(lines.summary["failed"], 1);
  EXPECT_EQ(lines.summary["exitStatus"], 1);
  EXPECT_EQ(good->finish(), 0);
  failing->unplug();
}

}  // namespace
