// `hxflash flash` as the person at a station sees it: a live view of every
// port on a terminal, time-stamped lines without one, the module's log kept
// apart in the run's log folder, a failed phone explained in the summary, and
// station mode.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "host/child_process.h"
#include "station.h"
#include "terminal_screen.h"

namespace {

using hxtest::Station;
using testing::HasSubstr;

const std::vector<std::string> kScaled = {"--time-scale", "0.05"};

std::vector<std::string> flashArgs(const Station& station, const std::string& logDir, std::vector<std::string> more) {
  std::vector<std::string> args = {"flash", station.packagePath(), "--log-dir", logDir};
  args.insert(args.end(), more.begin(), more.end());
  args.insert(args.end(), kScaled.begin(), kScaled.end());
  return args;
}

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::vector<std::string> fileLines(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return linesOf(text.str());
}

size_t countMatching(const std::vector<std::string>& lines, const std::string& pattern) {
  const std::regex re(pattern);
  return static_cast<size_t>(
      std::count_if(lines.begin(), lines.end(), [&](const std::string& l) { return std::regex_search(l, re); }));
}

const std::string kTimeStamp = "^[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3} ";
// The time of a log file's line: ISO 8601 with milliseconds and the UTC offset.
const std::string kLogTime = "^[0-9]{4}-[0-9]{2}-[0-9]{2}T[0-9]{2}:[0-9]{2}:[0-9]{2}\\.[0-9]{3}[+-][0-9]{2}:[0-9]{2} ";

// The lines of a log file but its run headers ("# ...").
std::vector<std::string> withoutHeaders(std::vector<std::string> lines) {
  std::erase_if(lines, [](const std::string& l) { return l.starts_with("# "); });
  return lines;
}

TEST(StationView, OnATerminalEachPortHasOneRowAndTheSummaryFollowsWithNoModuleLogOnTheScreen) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  hxtest::TerminalScreen screen(80, 24);
  std::vector<std::string> argv = {HXFLASH_PATH};
  for (const std::string& a : flashArgs(station, logs, {"-p", "41", "-p", "42"})) argv.push_back(a);
  hxflash::ChildProcess run(argv, screen.slavePath(), screen.slavePath());
  ASSERT_TRUE(screen.waitFor("waiting for the phone to be plugged in", hxtest::kPatience)) << screen.written();
  auto a = station.phone(41);
  auto b = station.phone(42);
  EXPECT_EQ(run.waitFor(hxtest::kPatience), 0) << screen.written();
  ASSERT_TRUE(screen.waitFor("logs in " + logs, std::chrono::seconds(10))) << screen.written();

  const std::vector<std::string> rows = screen.rows();
  std::string shown;
  for (const std::string& r : rows) shown += r + "\n";
  for (const char* port : {"COM41", "COM42"}) {
    EXPECT_EQ(countMatching(rows, std::string("^") + port + " +1 flashed +#+ 100% "), 1u) << shown;  // its row
    EXPECT_EQ(countMatching(rows, std::string("^") + port + " +1  flashed "), 1u) << shown;  // its summary
  }
  // Nothing else: the header, the rows, the summary, the log folder.
  const std::regex known("^(|logs in .*|port .*|COM4[12] .*|2 of 2 phones flashed .*)$");
  for (const std::string& r : rows) EXPECT_TRUE(std::regex_match(r, known)) << "on the screen: " << r << "\n" << shown;
  EXPECT_THAT(screen.written(), testing::Not(HasSubstr("BootROM")));

  const std::vector<std::string> moduleLog = withoutHeaders(fileLines(logs + "/module.log"));
  EXPECT_EQ(countMatching(moduleLog, kLogTime + ".*Connecting to BootROM"), 2u);
  EXPECT_EQ(countMatching(moduleLog, kLogTime), moduleLog.size()) << "every line time-stamped";
  EXPECT_EQ(a->finish(), 0);
  EXPECT_EQ(b->finish(), 0);
}

// With -v every report shows, but none twice in a row.
TEST(StationView, VerboseLinesSayEachThingOnce) {
  Station station;
  auto run = station.hxflash(flashArgs(station, station.dir() + "/logs", {"-p", "41", "-v"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto phone = station.phone(41);
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  std::vector<std::string> texts;
  for (const std::string& line : linesOf(run->out()))
    if (std::regex_search(line, std::regex(kTimeStamp + "COM41 "))) texts.push_back(line.substr(13));
  EXPECT_GT(countMatching(texts, " step [0-9]+%$"), 10u) << "every progress report shows";
  for (size_t i = 1; i < texts.size(); ++i) EXPECT_NE(texts[i], texts[i - 1]) << "said twice: " << texts[i];
  EXPECT_EQ(phone->finish(), 0);
}

// A notice longer than the terminal is wide is wrapped, not cut.
TEST(StationView, ANoticeWiderThanTheTerminalIsWrapped) {
  Station station;
  hxtest::TerminalScreen screen(50, 24);
  std::vector<std::string> argv = {HXFLASH_PATH};
  for (const std::string& a : flashArgs(station, station.dir() + "/logs", {"-p", "41"})) argv.push_back(a);
  hxflash::ChildProcess run(argv, screen.slavePath(), screen.slavePath());
  ASSERT_TRUE(screen.waitFor("waiting for the phone", hxtest::kPatience)) << screen.written();
  run.signal(SIGINT);
  EXPECT_EQ(run.waitFor(hxtest::kPatience), 130) << screen.written();
  std::string shown;
  for (const std::string& r : screen.rows()) shown += r + " ";
  EXPECT_THAT(shown, HasSubstr("(Ctrl-C again quits at once)")) << shown;
}

// A terminal that cannot move its cursor gets the plain lines.
TEST(StationView, ATerminalWithTermDumbGetsPlainLines) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  hxtest::TerminalScreen screen(80, 24);
  std::vector<std::string> argv = {"/usr/bin/env", "TERM=dumb", HXFLASH_PATH};
  for (const std::string& a : flashArgs(station, logs, {"-p", "41"})) argv.push_back(a);
  hxflash::ChildProcess run(argv, screen.slavePath(), screen.slavePath());
  ASSERT_TRUE(screen.waitFor("waiting for the phone to be plugged in", hxtest::kPatience)) << screen.written();
  auto phone = station.phone(41);
  EXPECT_EQ(run.waitFor(hxtest::kPatience), 0) << screen.written();
  EXPECT_THAT(screen.written(), HasSubstr("COM41   phone 1 flashed"));
  EXPECT_THAT(screen.written(), testing::Not(HasSubstr("\x1b["))) << "no cursor movement";
  EXPECT_EQ(phone->finish(), 0);
}

TEST(StationView, WithoutATerminalOneLinePerEventAndAFailedPhoneShowsItsStepAndLogTail) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  auto run = station.hxflash(flashArgs(station, logs, {"-p", "41", "-p", "42"}));
  ASSERT_TRUE(run->waitForOut("COM42   waiting for the phone to be plugged in")) << run->err();
  auto good = station.phone(41);
  auto failing = station.phone(42, {"--fault", "no-rom-info"});  // fails where the FS images begin
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  failing->unplug();

  const std::vector<std::string> out = linesOf(run->out());
  // One line per event of the good phone: the notice, its connection, each
  // step, the start of its reset countdown, its result; no progress report.
  const std::vector<std::string> events = fileLines(logs + "/com41.log");
  const size_t steps = countMatching(events, " status +[0-9]+% (?!Waiting for Reset)");
  // The countdown: its start and every ten seconds of it (80, 70, ... 10).
  EXPECT_EQ(countMatching(out, kTimeStamp + "COM41 "), 1 + 1 + steps + 8 + 1) << run->out();
  EXPECT_EQ(countMatching(out, "Waiting for Reset"), 8u) << run->out();
  EXPECT_EQ(countMatching(out, "Waiting for Reset [1-8]0 sec"), 8u) << run->out();
  EXPECT_EQ(countMatching(out, "BootROM"), 0u) << "the module's log is kept apart";

  // The failed port's summary row names its step; under it, its last events
  // and the module's log lines that tell why.
  const auto row = std::find_if(out.begin(), out.end(), [](const std::string& l) { return l.starts_with("COM42 "); });
  ASSERT_NE(row, out.end()) << run->out();
  EXPECT_THAT(*row, testing::MatchesRegex("COM42 +1  FAILED .* Start Write FS Image +com42.log")) << run->out();
  const std::string tail = [&] {
    std::string t;
    for (auto it = row + 1; it != out.end() && it->starts_with(" "); ++it) t += *it + "\n";
    return t;
  }();
  EXPECT_THAT(tail, HasSubstr("status   0% Start Write FS Image")) << run->out();
  EXPECT_THAT(tail, HasSubstr("COM42: download failed")) << run->out();
  EXPECT_THAT(run->out(), HasSubstr("logs in " + logs));
  EXPECT_EQ(good->finish(), 0);
}

// A phone whose BootROM never answers: the end of the wait says only that its
// port opened. Its line, its log and its JSON result say it failed before its
// first step, and why, as the summary does; nothing says it connected.
TEST(StationView, APhoneWhoseBootRomNeverAnswersFailedBeforeItsFirstStepInEveryReport) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  auto run = station.hxflash(flashArgs(station, logs, {"-p", "41"}));
  ASSERT_TRUE(run->waitForOut("COM41   waiting for the phone to be plugged in")) << run->err();
  auto silent = station.phone(41, {"--fault", "silent"});
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  silent->unplug();

  const std::vector<std::string> out = linesOf(run->out());
  EXPECT_EQ(countMatching(out, kTimeStamp + "COM41 +phone 1 plugged in$"), 1u) << run->out();
  EXPECT_EQ(countMatching(out, kTimeStamp + "COM41 +phone 1 FAILED before its first step after [0-9.]+ s: "
                                            "download failed .*BootROM"),
            1u)
      << run->out();
  EXPECT_EQ(countMatching(out, "^COM41 +1  FAILED +[0-9.]+s  before its first step "), 1u) << run->out();
  EXPECT_EQ(countMatching(out, "connected|in \"\""), 0u) << run->out();
  const std::vector<std::string> portLog = withoutHeaders(fileLines(logs + "/com41.log"));
  EXPECT_EQ(countMatching(portLog, kLogTime + "phone 1 plugged in$"), 1u);
  EXPECT_EQ(countMatching(portLog, kLogTime + "phone 1 result failed [0-9.]+ s code [0-9]+ download failed "), 1u);
  EXPECT_EQ(countMatching(portLog, "connected"), 0u);

  auto json = station.hxflash(flashArgs(station, station.dir() + "/logs-json", {"-p", "42", "--json"}));
  ASSERT_TRUE(json->waitForOut("waiting for the phone to be plugged in")) << json->err();
  auto silentToo = station.phone(42, {"--fault", "silent"});
  EXPECT_EQ(json->finish(), 1) << json->out() << json->err();
  silentToo->unplug();
  std::vector<nlohmann::json> results;
  for (const nlohmann::json& line : hxtest::jsonLines(json->out()))
    if (line["type"] == "result") results.push_back(line);
  ASSERT_EQ(results.size(), 1u) << json->out();
  EXPECT_EQ(results[0]["outcome"], "failed") << results[0].dump();
  EXPECT_EQ(results[0]["step"], "before its first step") << results[0].dump();
  EXPECT_NE(results[0].value("code", 0), 0) << results[0].dump();
  EXPECT_THAT(results[0].value("reason", ""), HasSubstr("BootROM")) << results[0].dump();
}

// The summary row of `port` and the lines under it: its last reports and its
// own module lines.
std::string excerptOf(const std::vector<std::string>& out, const std::string& port) {
  const auto row = std::find_if(out.begin(), out.end(), [&](const std::string& l) { return l.starts_with(port + " "); });
  std::string text;
  if (row == out.end()) return text;
  for (auto it = row + 1; it != out.end() && it->starts_with(" "); ++it) text += *it + "\n";
  return text;
}

// Three phones at once, one unplugged, one out of spares: every line of
// module.log names the port it is about, and each failed port's excerpt holds
// its own lines and no other port's.
TEST(StationLogs, EachPortsModuleLinesAreItsOwnInTheLogAndInItsExcerpt) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  auto run = station.hxflash(flashArgs(station, logs, {"-p", "41", "-p", "42", "-p", "43"}));
  ASSERT_TRUE(run->waitForOut("COM43   waiting for the phone to be plugged in")) << run->err();
  auto good = station.phone(41);
  auto gone = station.phone(42, {"--fault", "unplug-at=write-block"});
  auto spent = station.phone(43, {"--fault", "spare-exhaustion"});
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  gone->unplug();
  spent->unplug();

  const std::vector<std::string> moduleLog = withoutHeaders(fileLines(logs + "/module.log"));
  ASSERT_FALSE(moduleLog.empty());
  EXPECT_EQ(countMatching(moduleLog, kLogTime + "COM4[123] "), moduleLog.size()) << "every line names its port";
  EXPECT_EQ(countMatching(moduleLog, kLogTime + "COM42 +COM42: download failed .*the port went away"), 1u);
  EXPECT_EQ(countMatching(moduleLog, kLogTime + "COM43 +COM43: download failed .*no spare of region"), 1u);
  EXPECT_EQ(countMatching(moduleLog, "COM41: download failed"), 0u);

  // Each log begins with the run's header, and each phone's end is a line
  // with its result, time, code and reason.
  const std::string header = "^# " + kLogTime.substr(1) + "hxflash [0-9.]+: package .*Firmware.* \\([0-9]+ bytes, CRC-32 [0-9A-F]{8}\\), module .+$";
  for (const char* log : {"/module.log", "/com41.log", "/com42.log", "/com43.log"})
    EXPECT_EQ(countMatching(fileLines(logs + log), header), 1u) << log;
  EXPECT_EQ(countMatching(fileLines(logs + "/com41.log"), kLogTime + "phone 1 result flashed [0-9.]+ s$"), 1u);
  EXPECT_EQ(countMatching(fileLines(logs + "/com42.log"),
                          kLogTime + "phone 1 result failed [0-9.]+ s code 4008 download failed .*the port went away"),
            1u);
  EXPECT_EQ(countMatching(fileLines(logs + "/com43.log"), kLogTime + "phone 1 result failed [0-9.]+ s code 3051 "), 1u);

  const std::vector<std::string> out = linesOf(run->out());
  const std::string excerpt42 = excerptOf(out, "COM42"), excerpt43 = excerptOf(out, "COM43");
  EXPECT_THAT(excerpt42, HasSubstr("COM42: download failed")) << run->out();
  EXPECT_THAT(excerpt43, HasSubstr("COM43: download failed")) << run->out();
  for (const char* other : {"COM41", "COM43"}) EXPECT_THAT(excerpt42, testing::Not(HasSubstr(other))) << excerpt42;
  for (const char* other : {"COM41", "COM42"}) EXPECT_THAT(excerpt43, testing::Not(HasSubstr(other))) << excerpt43;
  EXPECT_EQ(good->finish(), 0);
}

// A phone swapped in during the reset countdown is there when the session
// begins to wait for its next phone: it is named at once, and the notice
// goes when the phone does.
TEST(StationView, APhoneSwappedInDuringTheCountdownIsNamedAtOnce) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  auto run = station.hxflash(flashArgs(station, logs, {"-p", "41", "-n", "2"}));
  ASSERT_TRUE(run->waitForOut("COM41   waiting for the phone to be plugged in")) << run->err();
  // The second phone comes a second after the first one's reset, within the
  // module's countdown (4 s at this time scale).
  auto phones = station.phone(41, {"--after-reset", "fresh", "--phones", "2", "--replug-delay-ms", "1000"});
  ASSERT_TRUE(run->waitForOut("COM41   a phone is plugged in already")) << run->out() << run->err();
  phones->unplug();
  ASSERT_TRUE(run->waitForOut("phone is flashed when its port appears")) << run->out();
  const auto notices = [&] { return countMatching(linesOf(run->out()), "COM41 +waiting for the phone to be plugged in"); };
  for (int i = 0; i < 200 && notices() < 2; ++i) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(notices(), 2u) << "the notice goes with the phone:\n" << run->out();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 130) << "Ctrl-C left phone 2 unflashed:\n" << run->out();
}

// A swapped-in phone that never comes anew is named in the summary and the
// JSON: it is plugged in, and not flashed.
TEST(StationView, APhoneLeftSwappedInIsNamedAtTheEnd) {
  Station station;
  auto run = station.hxflash(flashArgs(station, station.dir() + "/logs", {"-p", "41", "--loop", "--json"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto phones = station.phone(41, {"--after-reset", "fresh", "--phones", "2", "--replug-delay-ms", "1000"});
  ASSERT_TRUE(run->waitForOut("a phone is plugged in already")) << run->out() << run->err();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 0) << "station mode ends with Ctrl-C:\n" << run->out();
  const std::vector<nlohmann::json> lines = hxtest::jsonLines(run->out());
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back()["type"], "summary");
  EXPECT_EQ(lines.back()["presentNotFlashed"], nlohmann::json::array({41})) << lines.back().dump();
  phones->unplug();
}

TEST(StationMode, APortFlashesEachPhoneThatComesUntilCtrlCThenCountsThem) {
  Station station;
  const std::string logs = station.dir() + "/logs";
  auto run = station.hxflash(flashArgs(station, logs, {"-p", "41", "--loop"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  // One phone after another on the same port: after its reset the phone is
  // taken away, and a fresh one is plugged in once the module's countdown
  // (4 s at this time scale) is over.
  auto phones = station.phone(41, {"--after-reset", "fresh", "--phones", "2", "--replug-delay-ms", "8000"});
  ASSERT_TRUE(run->waitForOut("COM41   phone 2 flashed")) << run->out() << run->err();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 0) << run->out() << run->err();
  EXPECT_THAT(run->out(), testing::ContainsRegex("COM41 +2  2 flashed ")) << run->out();
  EXPECT_THAT(run->out(), HasSubstr("2 of 2 phones flashed"));
  phones->unplug();
}

// Station mode: a phone failed, then a good one; Ctrl-C during the good one's
// reset countdown ends the run, and the failed phone makes it 1.
TEST(StationMode, CtrlCDuringACountdownAfterAFailedPhoneEndsWith1) {
  Station station;
  auto run = station.hxflash(flashArgs(station, station.dir() + "/logs", {"-p", "41", "--loop"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto failing = station.phone(41, {"--fault", "no-rom-info"});
  ASSERT_TRUE(run->waitForOut("COM41   phone 1 FAILED")) << run->out() << run->err();
  failing->unplug();
  auto good = station.phone(41);
  ASSERT_TRUE(run->waitForOut("COM41   phone 2 resetting")) << run->out() << run->err();
  run->signal(SIGINT);
  EXPECT_EQ(run->finish(), 1) << run->out() << run->err();
  EXPECT_THAT(run->out(), HasSubstr("1 of 2 phones flashed")) << run->out();
  good->unplug();
}

}  // namespace
