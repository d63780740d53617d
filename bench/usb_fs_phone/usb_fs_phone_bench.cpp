// Flashes one phone on hxphone's USB full-speed model (`--link usb-fs`)
// through the real module at the module's own clock (1: every fixed wait at
// its nominal length), a small package (8 MiB), and sets the phone's whole
// flash beside what it cannot do without:
//   window: from the phone's plug-in (its port appearing in the ports
//     directory, seen by an inotify watch) to the first "Waiting for Reset"
//     report; the reset countdown is left out, and from that report on the
//     module clock runs at 0.01 so that it does not hold the round;
//   link: every turn inside the window, its bytes at the link's rate each
//     way plus one turnaround per answered turn (link_time.h);
//   fixed waits: each wait the flash keeps by design (fixed_waits.h), counted
//     for as long as the link stood still at its place, at most its nominal
//     length: a wait that comes to end early counts for what it lasted.
// Beside it, what the host (the module, in this process) spends on the
// model: its CPU time and its waits for the phone (voluntary context
// switches) from the connection report to the countdown, per MiB of images
// sent; the host's sleeps through the fixed waits cost it no CPU.
// The phone is checked with `hxphone verify` afterwards. Each round prints
// the window, the link's time, every fixed wait (nominal, still, counted),
// the link's other pauses over 10 ms and the host's cost; then the medians
// with their ranges, and as its last line (median of the rounds)
//   usb-fs-phone-ratio X (goal >= 0.97; S s per phone, ..., host-cpu-ms-per-mib-usb-fs C)
// (link + fixed waits) / window: 1 is a flash that adds nothing to them.
//
//   bench_usb_fs_phone [--mib N] [--rounds N] [--keep]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "download_window.h"
#include "fixed_waits.h"
#include "flash_turns.h"
#include "hxphone/link_pacer.h"
#include "link_time.h"
#include "phone_flash.h"
#include "port_appearance.h"

namespace {

using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr const char* kPortEntry = "com41";
constexpr uint32_t kPageSize = 2048;
constexpr uint64_t kPackageMiB = 8;
constexpr double kModuleClock = 1.0;
constexpr double kCountdownClock = 0.01;
constexpr const char* kUsbLink = "usb-fs";
constexpr auto kOtherPause = std::chrono::milliseconds(10);
constexpr size_t kOthersShown = 3;  // the longest other pauses, each with the note before it
constexpr double kGoal = 0.97;

hxbench::RunOptions parseArguments(int argc, char** argv) {
  hxbench::RunOptions o;
  o.packageMiB = kPackageMiB;
  for (int i = 1; i < argc; ++i)
    if (!hxbench::takeRunOption(argc, argv, i, o))
      throw std::invalid_argument("usage: bench_usb_fs_phone [--mib N] [--rounds N] [--keep]");
  return o;
}

// What the host spent from the connection report to the countdown, per MiB
// of images sent.
struct HostCost {
  double cpuMsPerMiB = 0;
  double waitsPerMiB = 0;
};

HostCost hostCost(const hxbench::DownloadWindow& window, const hxbench::BenchPackage& package) {
  const hxbench::DownloadWindow::Span download = window.untilCountdown("connected");
  const double images = mib(package.imageBytes);
  return {download.cpuSeconds * 1000 / images, static_cast<double>(download.waits) / images};
}

// One round: the phone's window, what its link needs, its fixed waits and
// what the host spent.
struct PhoneRound {
  double windowSeconds = 0;
  hxbench::LinkTime link;
  std::vector<hxbench::ObservedWait> waits;
  std::vector<hxbench::LinkPause> others;
  std::vector<std::string> othersAfter;  // of each other pause, the last note before its end
  size_t turns = 0;
  HostCost host;

  double floorSeconds() const { return link.seconds() + hxbench::countedSeconds(waits); }
  double ratio() const { return floorSeconds() / windowSeconds; }
};

std::string lastNoteBefore(const hxbench::SessionNotes& notes, int64_t ns) {
  std::string last = "(none)";
  for (const hxbench::TimedNote& note : notes.notes())
    if (hxbench::steadyNs(note.when) <= ns) last = note.text;
  return last;
}

PhoneRound measurePhone(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup,
                        const hxphone::PacedLink& link, int round) {
  hxbench::PortAppearance plugs(setup.workDir + "/ports");
  const hxbench::TurnsFlash flash =
      hxbench::flashNotingTurns(package, setup, round, kComPort, {"--link", kUsbLink});
  const auto plugIn = plugs.first(kPortEntry);
  if (!plugIn) throw std::runtime_error("the phone's port was not seen to appear");
  const int64_t from = hxbench::steadyNs(*plugIn);
  const int64_t to = hxbench::steadyNs(flash.phone->window.marks().back().when);
  const hxbench::SpanTurns span = hxbench::turnsBetween(flash.turns, from, to);
  const std::vector<hxbench::LinkPause> pauses =
      hxbench::linkPauses(span.turns, from, to, link, std::chrono::nanoseconds(0));

  PhoneRound r;
  r.windowSeconds = static_cast<double>(to - from) / 1e9;
  r.link = hxbench::linkTime(span.turns, link);
  r.waits = hxbench::observeFixedWaits(pauses, flash.phone->notes, from);
  r.others = hxbench::otherPauses(pauses, r.waits, kOtherPause);
  std::sort(r.others.begin(), r.others.end(), [](const auto& a, const auto& b) { return a.seconds() > b.seconds(); });
  for (const hxbench::LinkPause& pause : r.others) r.othersAfter.push_back(lastNoteBefore(flash.phone->notes, pause.toNs));
  r.turns = span.turns.size();
  r.host = hostCost(flash.phone->window, package);
  return r;
}

void printRound(int round, const PhoneRound& r) {
  std::printf("round %d: window %.3f s (plug-in to the first \"Waiting for Reset\"), %zu turns; link %.3f s "
              "(bytes %.3f s, turnarounds %.3f s); fixed waits %.3f s; usb-fs-phone-ratio %.4f\n",
              round, r.windowSeconds, r.turns, r.link.seconds(), r.link.bytesSeconds, r.link.turnaroundSeconds,
              hxbench::countedSeconds(r.waits), r.ratio());
  std::printf("    %-56s %10s %10s %10s\n", "fixed wait", "nominal ms", "still ms", "counted ms");
  for (const hxbench::ObservedWait& w : r.waits) {
    char still[32] = "not seen";
    if (w.placed) std::snprintf(still, sizeof still, "%.1f", w.still.seconds() * 1000);
    std::printf("    %-56s %10lld %10s %10.1f\n", w.wait->name, static_cast<long long>(w.wait->nominal.count()),
                still, w.countedSeconds * 1000);
  }
  double otherSeconds = 0;
  for (const hxbench::LinkPause& p : r.others) otherSeconds += p.seconds();
  std::printf("    other stillness of the link over %lld ms (not counted): %zu pauses, %.3f s\n",
              static_cast<long long>(kOtherPause.count()), r.others.size(), otherSeconds);
  for (size_t i = 0; i < r.others.size() && i < kOthersShown; ++i)
    std::printf("        %.1f ms, after \"%s\"\n", r.others[i].seconds() * 1000, r.othersAfter[i].c_str());
  std::printf("    host from the connection report to the countdown: %.2f ms of cpu per MiB of images, "
              "%.0f waits per MiB\n",
              r.host.cpuMsPerMiB, r.host.waitsPerMiB);
}

// The figures of the rounds, one value per round each; the counted time of
// each fixed wait by its name.
struct Rounds {
  std::vector<double> windows, links, waits, ratios, hostCpu, hostWaits;
  std::map<std::string, std::vector<double>> byWait;
};

void printFigures(const Rounds& r) {
  hxbench::printRounds("seconds per phone (window)", r.windows, 3);
  hxbench::printRounds("link s", r.links, 3);
  hxbench::printRounds("fixed waits s", r.waits, 3);
  for (const hxbench::FixedWait& wait : hxbench::fixedWaits())
    hxbench::printRounds("    " + std::string(wait.name) + ", counted s", r.byWait.at(wait.name), 3);
  hxbench::printRounds("host cpu ms per MiB", r.hostCpu, 2);
  hxbench::printRounds("host waits per MiB", r.hostWaits, 0);
  hxbench::printRounds("usb-fs-phone-ratio", r.ratios, 4);
  char beside[192];
  std::snprintf(beside, sizeof beside,
                "%.3f s per phone, link %.3f s, fixed waits %.3f s; host-cpu-ms-per-mib-usb-fs %.2f",
                hxbench::median(r.windows), hxbench::median(r.links), hxbench::median(r.waits),
                hxbench::median(r.hostCpu));
  hxbench::printFigure("usb-fs-phone-ratio", r.ratios, 4, hxbench::atLeast(kGoal), beside);
}

int runBench(const hxbench::RunOptions& o) {
  const hxphone::PacedLinkParse usbLink = hxphone::parsePacedLink(kUsbLink);
  if (!usbLink.link) throw std::logic_error(usbLink.error);
  const std::string dir = hxbench::makeWorkDir("hx-bench-usb-fs-phone");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %.1f MiB of images sent to the phone; module clock at %.2f, %.2f from the "
              "countdown on\n",
              mib(package.layout.packageSize), mib(package.imageBytes), kModuleClock, kCountdownClock);
  std::fflush(stdout);
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kModuleClock;
  setup.countdownTimeScale = kCountdownClock;
  setup.noteSessions = true;
  setup.keepFiles = o.keep;

  Rounds r;
  for (int round = 1; round <= o.rounds; ++round) {
    const PhoneRound phone = measurePhone(package, setup, *usbLink.link, round);
    printRound(round, phone);
    std::fflush(stdout);
    r.windows.push_back(phone.windowSeconds);
    r.links.push_back(phone.link.seconds());
    r.waits.push_back(hxbench::countedSeconds(phone.waits));
    r.ratios.push_back(phone.ratio());
    r.hostCpu.push_back(phone.host.cpuMsPerMiB);
    r.hostWaits.push_back(phone.host.waitsPerMiB);
    for (const hxbench::ObservedWait& w : phone.waits) r.byWait[w.wait->name].push_back(w.countedSeconds);
  }
  hxbench::finishWorkDir(dir, o.keep);
  printFigures(r);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_usb_fs_phone", [&] { return runBench(parseArguments(argc, argv)); });
}
