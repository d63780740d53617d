// The cost of keeping one phone's record in the station's history, which the
// station pays once per phone, on that phone's thread, before it reports the
// phone's end. Measured per record, over a batch of records, round by round,
// alternating with the baseline:
//   - baseline: one line appended to a file and made durable (write + fsync),
//     the least any record that survives a power cut costs;
//   - record: LocalHistory::add, one BEGIN IMMEDIATE transaction with
//     synchronous=FULL in WAL mode (the record and, for a centre's server,
//     its outbox entry).
// Prints each round and, as its last lines (medians of the rounds),
//   history-record-ms X (goal <= 50; ...)        milliseconds per phone
//   history-record-ratio Y (goal <= 4; ...)      record / durable line
//
//   bench_history_record [--rounds N] [--keep]
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench_run.h"
#include "history/local_history.h"

namespace {

constexpr int kRecordsPerRound = 200;

hxflash::PhoneRecord sampleRecord(int n) {
  hxflash::PhoneRecord r;
  r.id = hxflash::newRecordId();
  r.station = "bench-station";
  r.started = "2026-12-08T17:07:03.804+01:00";
  r.ended = "2026-12-08T17:07:19.120+01:00";
  r.endedMs = 1796400000000LL + n;
  r.comPort = 41 + static_cast<uint32_t>(n % 8);
  r.device = "/run/user/1000/hxflash/ports/com41 -> /dev/ttyACM0";
  r.package = "/srv/firmware/Firmware.bin";
  r.packageSize = 67108864;
  r.packageCrc32 = 0x1234abcd;
  r.outcome = n % 10 == 0 ? "failed" : "flashed";
  r.failedStep = n % 10 == 0 ? "Start Write FS Image" : "";
  r.code = n % 10 == 0 ? 3041 : 0;
  r.reason = n % 10 == 0 ? "the block is bad" : "";
  r.seconds = 61.5;
  r.bytesSent = 67108864;
  r.logPath = "/tmp/hxflash-logs/com41.log";
  return r;
}

// Seconds per durable line.
double durableLines(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) throw std::runtime_error("cannot open " + path);
  const std::string line =
      "2026-12-08T17:07:19.120+01:00 phone 1 result flashed 61.5 s /srv/firmware/Firmware.bin 1234abcd\n";
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRecordsPerRound; ++i) {
    if (::write(fd, line.data(), line.size()) != static_cast<ssize_t>(line.size()) || ::fsync(fd) != 0)
      throw std::runtime_error("cannot write " + path);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  ::close(fd);
  return seconds / kRecordsPerRound;
}

// Seconds per record kept.
double records(const std::string& path, int round) {
  hxflash::LocalHistory history(path, true);
  const auto start = std::chrono::steady_clock::now();
  for (int i = 0; i < kRecordsPerRound; ++i) history.add(sampleRecord(round * kRecordsPerRound + i), i % 2 == 0);
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count() / kRecordsPerRound;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark(argv[0], [&] {
    hxbench::RunOptions options;
    for (int i = 1; i < argc;) {
      if (!hxbench::takeRunOption(argc, argv, i, options)) throw std::invalid_argument(std::string("unknown argument ") + argv[i]);
    }
    char templ[] = "/var/tmp/hxflash-bench-history-XXXXXX";  // on the disk, not a tmpfs
    if (!::mkdtemp(templ)) throw std::runtime_error("cannot make a working directory");
    const std::string dir = templ;
    std::vector<double> baseline, record, ratio;
    for (int round = 0; round < options.rounds; ++round) {
      const double line = durableLines(dir + "/lines.log");
      const double kept = records(dir + "/history.sqlite3", round);
      baseline.push_back(line * 1000);
      record.push_back(kept * 1000);
      ratio.push_back(kept / line);
      std::printf("round %d: durable line %.3f ms, record %.3f ms\n", round + 1, line * 1000, kept * 1000);
    }
    hxbench::printRounds("durable line ms", baseline, 3);
    hxbench::printRounds("record ms", record, 3);
    hxbench::finishWorkDir(dir, options.keep);
    hxbench::printFigure("history-record-ms", record, 3, hxbench::atMost(50), "per phone, on its own thread");
    hxbench::printFigure("history-record-ratio", ratio, 2, hxbench::atMost(4), "record / durable line");
    return 0;
  });
}
