// A centre's PostgreSQL server, started by the test: the stations' records
// land in it with their names, each once and in order whatever the server
// does during a run, and its password never shows.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include "history/local_history.h"
#include "pg_server.h"
#include "station.h"

namespace {

using hxtest::PgServer;
using hxtest::Station;
using testing::HasSubstr;
using testing::Not;


class HistoryServer : public testing::Test {
 protected:
  void SetUp() override {
    server = std::make_unique<PgServer>();
    if (!server->running()) {
      if (hxtest::serverRequired()) FAIL() << "no PostgreSQL server: " << server->why();
      GTEST_SKIP() << "not run: no PostgreSQL server: " << server->why();
    }
    ::setenv("PGPASSFILE", server->passwordFile(PgServer::kPassword).c_str(), 1);
  }
  void TearDown() override { ::unsetenv("PGPASSFILE"); }

  std::vector<std::string> flashArgs(const std::string& port, const std::string& stationName,
                                     std::vector<std::string> more = {}) {
    std::vector<std::string> args = {"flash", station.packagePath(), "-p", port, "--station", stationName,
                                     "--history", station.historyPath(), "--history", server->address()};
    args.insert(args.end(), more.begin(), more.end());
    args.insert(args.end(), hxtest::kScaledTime.begin(), hxtest::kScaledTime.end());
    return args;
  }

  // The records on the server in the order it received them: id, station, port.
  std::vector<std::vector<std::string>> serverRecords() {
    return server->query("SELECT id, station, com_port FROM hxflash_phones ORDER BY received").value_or(
        std::vector<std::vector<std::string>>{});
  }
  // The ids of the station's own records, in the order it wrote them.
  std::vector<std::string> localIds() {
    std::vector<std::string> ids;
    for (const hxflash::PhoneRecord& r : hxflash::LocalHistory(station.historyPath(), false).find({}))
      ids.push_back(r.id);
    return ids;
  }
  int sync() {
    auto run = station.hxflash({"history", "--sync", "--history", station.historyPath(), "--history",
                                server->address()});
    return run->finish();
  }

  Station station;
  std::unique_ptr<PgServer> server;
};

TEST_F(HistoryServer, TwoStationsRecordsLandWithTheirNames) {
  auto north = station.hxflash(flashArgs("41", "north"));
  auto south = station.hxflash(flashArgs("42", "south"));
  ASSERT_TRUE(north->waitForOut("waiting for the phone to be plugged in")) << north->err();
  ASSERT_TRUE(south->waitForOut("waiting for the phone to be plugged in")) << south->err();
  auto a = station.phone(41);
  auto b = station.phone(42);
  EXPECT_EQ(north->finish(), 0) << north->err();
  EXPECT_EQ(south->finish(), 0) << south->err();
  EXPECT_EQ(sync(), 0);

  std::map<std::string, std::string> stationOfPort;
  for (const auto& row : serverRecords()) stationOfPort[row[2]] = row[1];
  EXPECT_EQ(stationOfPort, (std::map<std::string, std::string>{{"41", "north"}, {"42", "south"}}));

  auto read = station.hxflash({"history", "--json", "--history", server->address(), "--station", "south"});
  EXPECT_EQ(read->finish(), 0) << read->err();
  const auto lines = hxtest::jsonLines(read->out());
  ASSERT_EQ(lines.size(), 1u) << "hxflash history reads the server";
  EXPECT_EQ(lines[0]["port"], 42);
  a->finish();
  b->finish();
}

TEST_F(HistoryServer, AServerStoppedAndStartedAgainDuringARunGetsEveryRecordOnceInOrder) {
  const std::vector<std::string> fresh = {"--after-reset", "fresh", "--phones", "3", "--replug-delay-ms", "8000"};
  auto run = station.hxflash(flashArgs("41", "north", {"-n", "3"}));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto phones = station.phone(41, fresh);
  ASSERT_TRUE(run->waitForOut("phone 1 flashed")) << run->out();
  server->stop();
  ASSERT_TRUE(run->waitForOut("phone 2 flashed")) << run->out();
  ASSERT_TRUE(server->start());
  EXPECT_EQ(run->finish(), 0) << run->err();
  EXPECT_EQ(sync(), 0);

  std::vector<std::string> ids;
  for (const auto& row : serverRecords()) ids.push_back(row[0]);
  EXPECT_EQ(ids, localIds()) << "each record once, in the order the station wrote them";
  EXPECT_EQ(ids.size(), 3u);
  phones->unplug();
}

TEST_F(HistoryServer, AFrozenServerDelaysNoPhoneAndGetsTheRecordsWhenItThaws) {
  server->freeze();
  auto run = station.hxflash(flashArgs("41", "north"));
  ASSERT_TRUE(run->waitForOut("waiting for the phone to be plugged in")) << run->err();
  auto phone = station.phone(41);
  // The run ends, its phone flashed, while the server still answers nothing.
  EXPECT_EQ(run->finish(), 0) << run->err();
  EXPECT_EQ(phone->finish(), 0);
  EXPECT_EQ(hxflash::LocalHistory(station.historyPath(), false).outgoingCount(), 1u) << "it waits in the outbox";
  server->thaw();
  EXPECT_EQ(sync(), 0);
  std::vector<std::string> ids;
  for (const auto& row : serverRecords()) ids.push_back(row[0]);
  EXPECT_EQ(ids, localIds());
  EXPECT_EQ(hxflash::LocalHistory(station.historyPath(), false).outgoingCount(), 0u);
}

// A password that is wrong, or given where others see it, is refused in words
// that never show it.
TEST_F(HistoryServer, APasswordIsNeverShown) {
  const std::string wrong = "Wr0ng-Guess-42";
  ::setenv("PGPASSFILE", server->passwordFile(wrong).c_str(), 1);
  auto read = station.hxflash({"history", "--history", server->address()});
  EXPECT_EQ(read->finish(), 1);
  EXPECT_THAT(read->err(), HasSubstr("password authentication failed"));
  EXPECT_THAT(read->out() + read->err(), Not(HasSubstr(wrong)));

  std::string inAddress = server->address();
  inAddress.replace(inAddress.find('@'), 1, std::string(":") + PgServer::kPassword + "@");
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"history", "--history", inAddress},
        std::vector<std::string>{"flash", station.packagePath(), "-p", "41", "--history", inAddress}}) {
    auto run = station.hxflash(args);
    EXPECT_EQ(run->finish(), 2);
    EXPECT_THAT(run->err(), HasSubstr("carries a password"));
    EXPECT_THAT(run->out() + run->err(), Not(HasSubstr(PgServer::kPassword)));
  }
}

}  // namespace
