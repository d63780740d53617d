// One phone flashed with a large package (64 MiB) through the real module,
// over the kernel's cdc-acm driver, beside the same flash over a plain
// pseudo-terminal. The USB phone is hxphone on a configfs gadget (--usb)
// that dummy_hcd joins to the host side in the same kernel, at full speed:
// the bytes go through cdc-acm's bulk transfers, the USB core and u_serial,
// as a station's phone's do, but the emulated controller is no wire and
// moves them faster than a full-speed wire would (the timing goals of a
// real phone's link stay with hxphone's --link usb-fs model).
//
// Runs inside the USB test machine (scripts/bench-usb.sh starts it there).
// Each round flashes over the pty, then over cdc-acm; the window is a
// download from its connection report to the first "Waiting for Reset"
// report, at the module's clock 0.01. Prints the rounds, then
//   cdc-acm-ratio X (pty window / cdc-acm window; the windows' medians)
//
//   bench_usb_cdc_acm [--mib N] [--rounds N] [--keep] [--udc NAME]
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench_files.h"
#include "bench_run.h"
#include "phone_flash.h"

namespace {

using hxbench::mib;

constexpr uint32_t kComPort = 41;
constexpr uint32_t kPageSize = 2048;
constexpr double kTimeScale = 0.01;

struct BenchOptions {
  hxbench::RunOptions run;
  std::string udc = "dummy_udc.0";
};

BenchOptions parseArguments(int argc, char** argv) {
  BenchOptions o;
  o.run.rounds = 1;
  for (int i = 1; i < argc; ++i) {
    if (hxbench::takeRunOption(argc, argv, i, o.run)) continue;
    if (std::string(argv[i]) == "--udc" && i + 1 < argc) {
      o.udc = argv[++i];
    } else {
      throw std::invalid_argument("usage: bench_usb_cdc_acm [--mib N] [--rounds N] [--keep] [--udc NAME]");
    }
  }
  return o;
}

void requireUsbMachine(const std::string& udc) {
  struct stat st{};
  if (::geteuid() != 0 || ::stat(("/sys/class/udc/" + udc).c_str(), &st) != 0)
    throw std::runtime_error("needs root and the USB device controller " + udc +
                             ": run it in the USB test machine (scripts/bench-usb.sh)");
}

// One flash of one phone; its download window in seconds.
double flashWindow(const hxbench::BenchPackage& package, const hxbench::PhoneFlashSetup& setup, int flashNumber,
                   std::vector<std::string> phoneArguments, const char* what) {
  std::vector<std::unique_ptr<hxbench::FlashedPhone>> phones;
  phones.push_back(hxbench::phoneOn(kComPort, std::move(phoneArguments)));
  if (!hxbench::flashPhones(package, setup, flashNumber, phones))
    throw std::runtime_error(std::string("the flash over ") + what + " failed");
  const hxbench::DownloadWindow::Span window = phones[0]->window.untilCountdown("connected");
  std::printf("  %-8s window %.3f s, %.2f MiB/s of images, host cpu %.3f s\n", what, window.seconds,
              mib(package.imageBytes) / window.seconds, window.cpuSeconds);
  std::fflush(stdout);
  return window.seconds;
}

int runBench(const BenchOptions& o) {
  requireUsbMachine(o.udc);
  const std::string dir = hxbench::makeWorkDir("hx-bench-cdc-acm");
  hxbench::usePrivatePortsDir(dir + "/ports");
  const hxbench::BenchPackage package = hxbench::writeBenchPackage(dir + "/Firmware.BIN", o.run.packageMiB, kPageSize);
  std::printf("package %.1f MiB, %.1f MiB of images sent to the phone; module clock at %.2f; cdc-acm on %s\n",
              mib(package.layout.packageSize), mib(package.imageBytes), kTimeScale, o.udc.c_str());
  hxbench::PhoneFlashSetup setup;
  setup.workDir = dir;
  setup.timeScale = kTimeScale;
  setup.keepFiles = o.run.keep;

  std::vector<double> ptyWindows, usbWindows, ratios;
  for (int round = 1; round <= o.run.rounds; ++round) {
    std::printf("round %d\n", round);
    ptyWindows.push_back(flashWindow(package, setup, 2 * round - 1, {}, "pty"));
    usbWindows.push_back(flashWindow(package, setup, 2 * round, {"--usb", "--udc", o.udc}, "cdc-acm"));
    ratios.push_back(ptyWindows.back() / usbWindows.back());
  }
  hxbench::printRounds("pty window s", ptyWindows, 3);
  hxbench::printRounds("cdc-acm window s", usbWindows, 3);
  hxbench::printFigure("cdc-acm-ratio", ratios, 3, hxbench::Goal{"no goal: the controller is emulated, no wire"},
                       "pty window / cdc-acm window for " + std::to_string(o.run.packageMiB) + " MiB");
  hxbench::finishWorkDir(dir, o.run.keep);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  return hxbench::runBenchmark("bench_usb_cdc_acm", [&] { return runBench(parseArguments(argc, argv)); });
}
