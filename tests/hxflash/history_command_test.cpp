// hxflash history on a history the test writes: its filters, JSON lines,
// CSV and summary; an empty history; files it must not use, refused and left
// as they were; a history of an older schema, migrated.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "history/local_history.h"
#include "station.h"

namespace {

using hxflash::PhoneRecord;
using hxtest::Station;
using nlohmann::json;
using testing::HasSubstr;
using testing::Not;

std::string fileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// Noon (UTC) of December `day`, 2026, in ms since 1970.
int64_t noonOf(int day) { return (1796126400LL + (day - 1) * 86400LL) * 1000; }

PhoneRecord record(uint32_t port, int day, const std::string& outcome, int code = 0, const std::string& reason = "") {
  static int n = 0;
  PhoneRecord r;
  r.id = "id" + std::to_string(++n);
  r.station = "bench-a";
  r.started = "2026-12-0" + std::to_string(day) + "T11:59:00.000+00:00";
  r.ended = "2026-12-0" + std::to_string(day) + "T12:00:00.000+00:00";
  r.endedMs = noonOf(day) + n;
  r.comPort = port;
  r.device = "/dev/ttyACM" + std::to_string(port - 41);
  r.package = "/srv/firmware/Firmware.bin";
  r.packageSize = 4096;
  r.packageCrc32 = 0x1234abcd;
  r.outcome = outcome;
  r.failedStep = outcome == "failed" ? "Start Write FS Image" : "";
  r.code = code;
  r.reason = reason;
  r.seconds = 12.5;
  r.bytesSent = outcome == "failed" ? 100 : 4096;
  r.logPath = "/tmp/logs/com" + std::to_string(port) + ".log";
  return r;
}

// Three ports over two days: COM43 fails half its phones, COM41 and COM42 one
// in ten; one phone of another station with another package.
class HistoryCommand : public testing::Test {
 protected:
  void SetUp() override {
    path = station.dir() + "/written.sqlite3";
    hxflash::LocalHistory history(path, true);
    for (uint32_t port : {41u, 42u}) {
      for (int i = 0; i < 9; ++i) history.add(record(port, 1 + i % 2, "flashed"), false);
      history.add(record(port, 2, "failed", 3041, "the block is bad"), false);
    }
    for (int i = 0; i < 5; ++i) history.add(record(43, 1, "flashed"), false);
    for (int i = 0; i < 5; ++i) history.add(record(43, 2, "failed", 4008, "read-back failed, \"twice\""), false);
    PhoneRecord other = record(44, 2, "failed", 1, "=cmd|' /C calc'!A0");
    other.station = "bench-b";
    other.package = "/srv/firmware/Other.bin";
    history.add(other, false);
  }

  std::unique_ptr<hxtest::ProgramRun> history(std::vector<std::string> args) {
    args.insert(args.begin(), {"history", "--history", path});
    return station.hxflash(args);
  }

  std::vector<json> jsonOf(std::vector<std::string> args) {
    args.push_back("--json");
    auto run = history(args);
    EXPECT_EQ(run->finish(), 0) << run->err();
    return hxtest::jsonLines(run->out());
  }

  Station station;
  std::string path;
};

TEST_F(HistoryCommand, EachFilterChoosesItsPhones) {
  struct Case {
    std::vector<std::string> args;
    size_t phones;
  };
  ::setenv("TZ", "UTC", 1);  // --since and --until below name UTC days
  const std::vector<Case> cases = {
      {{}, 31},
      {{"--port", "43"}, 10},
      {{"--outcome", "failed"}, 8},
      {{"--since", "2026-12-02"}, 5 + 5 + 5 + 1},
      {{"--until", "2026-12-02"}, 5 + 5 + 5},
      {{"--station", "bench-b"}, 1},
      {{"--package", "Other.bin"}, 1},
      {{"--package", "/srv/firmware/Firmware.bin", "--port", "41", "--outcome", "failed"}, 1},
  };
  for (const Case& c : cases) {
    const std::vector<json> lines = jsonOf(c.args);
    EXPECT_EQ(lines.size(), c.phones) << testing::PrintToString(c.args);
    for (const json& line : lines) {
      if (c.args.size() >= 2 && c.args[0] == "--port") {
        EXPECT_EQ(line["port"], 43);
      }
      if (c.args.size() >= 2 && c.args[0] == "--outcome") {
        EXPECT_EQ(line["outcome"], "failed");
      }
    }
  }
  const json first = jsonOf({"--port", "41", "--outcome", "failed"}).at(0);
  EXPECT_EQ(first["code"], 3041);
  EXPECT_EQ(first["reason"], "the block is bad");
  EXPECT_EQ(first["package_crc32"], "1234abcd");
  EXPECT_EQ(first["device"], "/dev/ttyACM0");
}

TEST_F(HistoryCommand, CsvHasAHeaderAndQuotesWhatMustBeQuoted) {
  auto run = history({"--csv", "--port", "43", "--outcome", "failed"});
  ASSERT_EQ(run->finish(), 0) << run->err();
  std::istringstream lines(run->out());
  std::string header, row;
  std::getline(lines, header);
  EXPECT_THAT(header, HasSubstr("id,station,started,ended,port,device,package"));
  size_t rows = 0;
  while (std::getline(lines, row)) {
    ++rows;
    EXPECT_THAT(row, HasSubstr(",\"read-back failed, \"\"twice\"\"\","));
  }
  EXPECT_EQ(rows, 5u);
  auto formula = history({"--csv", "--station", "bench-b"});
  ASSERT_EQ(formula->finish(), 0);
  EXPECT_THAT(formula->out(), HasSubstr(",'=cmd|' /C calc'!A0,")) << "a formula stays text";
}

TEST_F(HistoryCommand, TheSummaryNamesThePortThatFailsMoreThanTheRest) {
  auto run = history({"--summary", "--station", "bench-a"});
  ASSERT_EQ(run->finish(), 0) << run->err();
  const std::string out = run->out();
  EXPECT_THAT(out, HasSubstr("COM43 fails far more often than the other ports: 50%"));
  EXPECT_THAT(out, HasSubstr("4008 read-back failed"));
  EXPECT_THAT(out, Not(HasSubstr("COM41 fails")));
  EXPECT_THAT(out, Not(HasSubstr("COM42 fails")));
  EXPECT_THAT(out, HasSubstr("2026-12-01"));
  EXPECT_THAT(out, HasSubstr("2026-12-02"));

  const std::vector<json> summary = jsonOf({"--summary", "--station", "bench-a"});
  ASSERT_EQ(summary.size(), 1u);
  EXPECT_EQ(summary[0]["standouts"].size(), 1u);
  EXPECT_EQ(summary[0]["ports"]["COM43"]["failed"], 5);
  EXPECT_EQ(summary[0]["ports"]["COM41"]["flashed"], 9);
}

TEST(HistoryEmpty, SaysSoInOneLineNamingWhereItLooked) {
  Station station;
  const std::string path = station.dir() + "/none.sqlite3";
  auto run = station.hxflash({"history", "--history", path});
  EXPECT_EQ(run->finish(), 0);
  EXPECT_EQ(run->out(), "");
  EXPECT_EQ(run->err(), "hxflash history: the history is empty: no phone has been recorded in " + path + "\n");
  EXPECT_FALSE(std::filesystem::exists(path)) << "reading makes no file";
}

// A file that is not a history of hxflash: the run is refused before it
// waits for a phone, and the file is left exactly as it was.
TEST(HistoryRefused, ADamagedFileOrAnotherProgramsDatabaseIsLeftAsItWas) {
  Station station;
  const std::string damaged = station.dir() + "/damaged.sqlite3";
  {
    hxflash::LocalHistory history(damaged, true);
    history.add(record(41, 1, "flashed"), false);
  }
  std::string bytes = fileBytes(damaged);
  ASSERT_GT(bytes.size(), 4096u);
  for (size_t i = 100; i < bytes.size(); i += 7) bytes[i] = static_cast<char>(bytes[i] ^ 0x5a);
  std::ofstream(damaged, std::ios::binary) << bytes;

  const std::string foreign = station.dir() + "/foreign.sqlite3";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(foreign.c_str(), &db), SQLITE_OK);
  sqlite3_exec(db, "CREATE TABLE invoices(number INTEGER, total REAL); INSERT INTO invoices VALUES(1, 9.5)", nullptr,
               nullptr, nullptr);
  sqlite3_close(db);

  const std::string text = station.dir() + "/notes.txt";
  std::ofstream(text) << "shopping: milk, bread\n";

  for (const std::string& path : {damaged, foreign, text}) {
    const std::string before = fileBytes(path);
    auto run = station.hxflash({"flash", station.packagePath(), "-p", "41", "--history", path});
    EXPECT_EQ(run->finish(), 2) << path << "\n" << run->out() << run->err();
    EXPECT_THAT(run->err(), HasSubstr(path));
    EXPECT_THAT(run->err(), HasSubstr("leaves it as it is"));
    EXPECT_THAT(run->out() + run->err(), Not(HasSubstr("waiting for the phone"))) << "refused before waiting";
    EXPECT_EQ(fileBytes(path), before) << path << " was changed";
    EXPECT_FALSE(std::filesystem::exists(path + "-wal")) << path;
  }
}

TEST(HistoryMigration, AHistoryOfTheFirstSchemaIsReadAndMigrated) {
  Station station;
  const std::string path = station.dir() + "/old.sqlite3";
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  // The first schema: the phones, no outbox.
  const std::string schema =
      "PRAGMA application_id=" + std::to_string(hxflash::kHistoryApplicationId) +
      "; PRAGMA user_version=1;"
      "CREATE TABLE phones(seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, station TEXT NOT NULL, "
      "started TEXT NOT NULL, ended TEXT NOT NULL, ended_ms INTEGER NOT NULL, com_port INTEGER NOT NULL, "
      "device TEXT NOT NULL, package TEXT NOT NULL, package_size INTEGER, package_crc32 INTEGER, "
      "outcome TEXT NOT NULL, failed_step TEXT NOT NULL, code INTEGER NOT NULL, reason TEXT NOT NULL, "
      "seconds REAL NOT NULL, bytes_sent INTEGER NOT NULL, log_path TEXT NOT NULL);"
      "CREATE INDEX phones_by_end ON phones(ended_ms);"
      "INSERT INTO phones(id, station, started, ended, ended_ms, com_port, device, package, package_size, "
      "package_crc32, outcome, failed_step, code, reason, seconds, bytes_sent, log_path) VALUES('old1', 'bench-a', "
      "'2026-11-30T10:00:00.000+00:00', '2026-11-30T10:01:00.000+00:00', 1796032860000, 41, 'com41', 'F.bin', 10, "
      "1, 'flashed', '', 0, '', 60.0, 10, 'com41.log');";
  ASSERT_EQ(sqlite3_exec(db, schema.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);

  auto run = station.hxflash({"history", "--history", path, "--json"});
  ASSERT_EQ(run->finish(), 0) << run->err();
  const std::vector<json> lines = hxtest::jsonLines(run->out());
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0]["id"], "old1");

  hxflash::LocalHistory migrated(path, false);
  migrated.add(record(42, 1, "flashed"), true);  // the outbox of the new schema is there
  EXPECT_EQ(migrated.outgoingCount(), 1u);
  EXPECT_EQ(migrated.find({}).size(), 2u);
}

}  // namespace
