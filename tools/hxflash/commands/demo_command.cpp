// hxflash demo: a station at work. It writes a sample firmware package,
// plugs in several virtual phones (hxphone processes, one of them with a
// factory-bad block and one with a block that fails while programmed),
// flashes them all at once through the real module, and checks each
// phone's NAND against the package.
#include <fmt/core.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <sstream>
#include <string>
#include <vector>

#include "host/child_process.h"
#include "commands/commands.h"
#include "station/exit_status.h"
#include "station/flash_report.h"
#include "host/flash_runner.h"
#include "commands/module_options.h"
#include "host/port_assignment.h"
#include "pkgbuild/package_builder.h"
#include "station/station_output.h"
#include "station/station_run.h"
#include "station/transfer_plan.h"
#include "host/program_location.h"

namespace hxflash {
namespace {

constexpr double kDemoTimeScale = 0.05;

// The virtual phone beside this program (an installed hxflash), else the one
// of the build tree this program was built in.
std::string defaultHxphonePath() {
  const std::string programs = programDirectory();
  std::error_code ec;
  if (!programs.empty() && std::filesystem::is_regular_file(programs + "/hxphone", ec)) return programs + "/hxphone";
  return HXFLASH_DEFAULT_HXPHONE;
}

struct DemoOptions {
  DemoOptions() { module.timeScale = kDemoTimeScale; }
  int phones = 3;
  uint32_t pageSize = 2048;
  std::string dir;
  std::string hxphone = defaultHxphonePath();
  ModuleOptions module;
};

std::string phoneFile(const std::string& dir, int phone, const char* suffix) {
  return fmt::format("{}/phone{}{}", dir, phone, suffix);
}

uint32_t blocksFor(const pkgbuild::PackageLayout& layout) {
  uint64_t last = (layout.fsAreaStart + layout.fsAreaLength) / layout.geometry.blockDataSize;
  last = std::max<uint64_t>(last, (layout.fsFormatAreaStart + layout.fsFormatAreaLength) / layout.geometry.blockDataSize);
  return static_cast<uint32_t>(last + 32);
}

// The demo's working folder, and the ports directory of its own where the
// phones publish their ports.
std::string makeWorkingDir(const std::string& given) {
  std::string dir = given;
  if (dir.empty()) {
    char templ[] = "/tmp/hxflash-demo-XXXXXX";
    if (!mkdtemp(templ)) throw std::runtime_error("cannot make a working directory");
    dir = templ;
  }
  std::filesystem::create_directories(dir);
  const std::string portsDir = dir + "/ports";
  std::filesystem::create_directories(portsDir);
  std::filesystem::permissions(portsDir, std::filesystem::perms::owner_all, std::filesystem::perm_options::replace);
  ::setenv("HXFLASH_PORTS_DIR", portsDir.c_str(), 1);
  return dir;
}

pkgbuild::BuiltPackage writeDemoPackage(const std::string& package, const DemoOptions& o) {
  pkgbuild::PackageRecipe recipe;
  recipe.pageSize = o.pageSize;
  recipe.blockKiB = pkgbuild::defaultBlockKiB(o.pageSize);
  pkgbuild::BuiltPackage built = pkgbuild::writePackage(package, recipe);
  fmt::print("package   {} ({:.1f} MiB, {} FS images)\n", package, built.bytes.size() / 1048576.0,
             built.layout.fsImages.size());
  fmt::print("module    {}\nhxphone   {}\n", o.module.module, o.hxphone);
  return built;
}

struct DemoPhone {
  uint32_t com;
  std::vector<std::string> command;  // the hxphone that plays it
};

// The phones, each on its own COM port: the second with a factory-bad block,
// the third with a block that fails while programmed.
std::vector<DemoPhone> demoPhones(const DemoOptions& o, const std::string& dir, const pkgbuild::PackageLayout& layout) {
  const auto& fs = layout.fsImages.at(0);
  std::vector<DemoPhone> phones;
  for (int i = 0; i < o.phones; ++i) {
    DemoPhone phone{kFirstServedComPort + static_cast<uint32_t>(i), {}};
    phone.command = {o.hxphone, "run", "--port", std::to_string(phone.com),
                     "--page-size", std::to_string(o.pageSize),
                     "--blocks", std::to_string(blocksFor(layout)),
                     "--plug-delay-ms", "500",
                     "--dump", phoneFile(dir, i + 1, ".nand"),
                     "--record", phoneFile(dir, i + 1, ".json"),
                     "--no-controlling-terminal"};
    std::string note = "blank NAND";
    if (i == 1 && fs.mappedBlocks.size() > 1) {
      phone.command.insert(phone.command.end(), {"--bad-blocks", std::to_string(fs.mappedBlocks[1].block)});
      note = fmt::format("factory-bad block {}", fs.mappedBlocks[1].block);
    } else if (i == 2 && fs.mappedBlocks.size() > 2) {
      phone.command.insert(phone.command.end(), {"--failing-blocks", std::to_string(fs.mappedBlocks[2].block)});
      note = fmt::format("block {} fails when programmed", fs.mappedBlocks[2].block);
    }
    fmt::print("phone {}   COM{} ({})\n", i + 1, phone.com, note);
    phones.push_back(std::move(phone));
  }
  std::fflush(stdout);
  return phones;
}

// Counts the sessions waiting for their first phone.
class FirstWaits : public StationHooks {
 public:
  void waiting(uint32_t, int phone, FlashReport&) override {
    if (phone != 1) return;
    std::lock_guard<std::mutex> lock(m_mutex);
    ++m_waiting;
    m_changed.notify_all();
  }
  void awaitAll(size_t ports) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_changed.wait_for(lock, std::chrono::minutes(10), [&] { return m_waiting == ports; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_changed;
  size_t m_waiting = 0;
};

struct StationResults {
  std::vector<PhoneResult> results;
  std::vector<int> phoneStatus;  // each hxphone's exit status
  double seconds = 0;
};

// Shown as `hxflash flash` shows a run: a live view on a terminal, lines
// otherwise; the module's log in the run's log folder. The phones come once
// every session waits for its phone: a phone plugged in before would count
// as one still attached from earlier.
StationResults flashAll(const DemoOptions& o, const std::string& dir, const std::string& package,
                        const std::vector<DemoPhone>& phones) {
  FirstWaits firstWaits;
  StationRunSetup setup;
  setup.flash.modulePath = o.module.module;
  setup.flash.packagePath = package;
  for (const DemoPhone& phone : phones) setup.flash.comPorts.push_back(phone.com);
  setup.flash.timeScale = o.module.timeScale;
  setup.output = OutputChoice{false, o.module.verbose, false};
  setup.logDir = dir + "/logs";
  setup.plan = planTransfer(package);
  setup.hooks = &firstWaits;
  StationRun run(std::move(setup));
  const auto start = std::chrono::steady_clock::now();
  run.start();
  firstWaits.awaitAll(phones.size());
  std::vector<std::unique_ptr<ChildProcess>> processes;
  for (size_t i = 0; i < phones.size(); ++i) {
    // What a phone says goes to its own file, not into the station's view.
    const std::string log = phoneFile(dir, static_cast<int>(i) + 1, ".log");
    processes.push_back(std::make_unique<ChildProcess>(phones[i].command, log, log));
  }
  while (!run.run().waitFor(std::chrono::seconds(1))) {
  }
  StationResults done;
  done.results = run.run().results();
  done.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  run.end(done.results, RunEnd{false, done.seconds, exitStatusFor(done.results, false)});
  for (auto& process : processes) done.phoneStatus.push_back(process->wait());  // each unplugs after its reset
  return done;
}

// Each phone's NAND checked against the package; the table of phones.
// The phones that failed.
int verifyPhones(const DemoOptions& o, const std::string& dir, const std::string& package,
                 const StationResults& done) {
  int failures = 0;
  fmt::print("\n{:<7} {:<9} {:<9} {}\n", "phone", "flash", "NAND", "");
  for (size_t i = 0; i < done.results.size(); ++i) {
    const std::string dump = phoneFile(dir, static_cast<int>(i) + 1, ".nand");
    const std::string report = phoneFile(dir, static_cast<int>(i) + 1, ".verify.txt");
    ChildProcess verify({o.hxphone, "verify", "--package", package, "--dump", dump}, report);
    const bool verified = verify.wait() == 0;
    if (!verified) {
      std::ifstream in(report);
      std::stringstream text;
      text << in.rdbuf();
      fmt::print("{}", text.str());
    }
    const bool flashed = done.results[i].succeeded && done.phoneStatus[i] == 0;
    if (!flashed || !verified) ++failures;
    fmt::print("COM{:<4} {:<9} {:<9}\n", done.results[i].comPort, flashed ? "flashed" : "FAILED",
               verified ? "verified" : "WRONG");
  }
  return failures;
}

int runDemo(const DemoOptions& o) {
  const std::string dir = makeWorkingDir(o.dir);
  const std::string package = dir + "/HX9120_demo.bin";
  const pkgbuild::BuiltPackage built = writeDemoPackage(package, o);
  const std::vector<DemoPhone> phones = demoPhones(o, dir, built.layout);
  const StationResults done = flashAll(o, dir, package, phones);
  const int failures = verifyPhones(o, dir, package, done);
  fmt::print("\n{} of {} phones flashed and verified in {:.1f} s (reset countdown scaled by {}); files in {}\n",
             done.results.size() - static_cast<size_t>(failures), done.results.size(), done.seconds,
             o.module.timeScale, dir);
  return failures == 0 ? kExitOk : kExitPhoneFailed;
}

}  // namespace

void registerDemoCommand(CLI::App& app, int& exitCode) {
  auto o = std::make_shared<DemoOptions>();
  CLI::App* cmd = app.add_subcommand(
      "demo", "Flash several virtual phones at once through the module and verify what each phone holds");
  cmd->add_option("-n,--phones", o->phones, "Virtual phones to flash at once")->check(CLI::Range(1, 16));
  cmd->add_option("--page-size", o->pageSize, "NAND page size of the package and the phones")
      ->check(CLI::IsMember({512, 2048}));
  cmd->add_option("--dir", o->dir, "Working directory for the package, dumps and records (default: a new one in /tmp)");
  cmd->add_option("--hxphone", o->hxphone, "The virtual phone program")->check(CLI::ExistingFile);
  addModuleOptions(*cmd, o->module);
  cmd->callback([o, &exitCode] {
    try {
      exitCode = runDemo(*o);
    } catch (const std::exception& e) {
      fmt::print(stderr, "hxflash demo: {}\n", e.what());
      exitCode = kExitRefused;
    }
  });
}

}  // namespace hxflash
