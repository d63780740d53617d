#include "phone_flash.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <stdexcept>

#include "host/child_process.h"
#include "host/flash_runner.h"
#include "process_tree_cpu.h"
#include "host/shared_library.h"

namespace hxbench {
namespace {

class StdoutToFile {
 public:
  explicit StdoutToFile(const std::string& path) {
    std::fflush(stdout);
    m_saved = ::dup(STDOUT_FILENO);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (m_saved < 0 || fd < 0) throw std::runtime_error("cannot open " + path);
    ::dup2(fd, STDOUT_FILENO);
    ::close(fd);
  }
  ~StdoutToFile() {
    std::fflush(stdout);
    ::dup2(m_saved, STDOUT_FILENO);
    ::close(m_saved);
  }
  StdoutToFile(const StdoutToFile&) = delete;
  StdoutToFile& operator=(const StdoutToFile&) = delete;

 private:
  int m_saved = -1;
};

using Phones = std::vector<std::unique_ptr<FlashedPhone>>;

FlashedPhone* phoneOnPort(const Phones& phones, uint32_t comPort) {
  for (const auto& phone : phones)
    if (phone->comPort == comPort) return phone.get();
  return nullptr;
}

bool isCountdown(const hxflash::HostEvent& event) {
  return event.code == hxflash::kNotifyStatus && event.text.starts_with(hxflash::kCountdownPrefix);
}

// Sets the clock of the module the run has loaded from `module`: the library
// is opened once more (the loaded one is found), and let go again. Called
// from a report, so it says what failed rather than throw into the module.
void setModuleTimeScale(const std::string& module, double factor) {
  std::string why;
  void* library = hxflash::openSharedLibrary(module, &why);
  using SetTimeScale = int (*)(double);
  const auto set = library ? reinterpret_cast<SetTimeScale>(hxflash::findExport(library, "SetTimeScale")) : nullptr;
  if (!set || !set(factor))
    std::fprintf(stderr, "the module's clock could not be set to %g for the countdown: %s\n", factor,
                 library ? "SetTimeScale refused or missing" : why.c_str());
  if (library) hxflash::closeSharedLibrary(library);
}

// The run over the phones' ports: each report goes to its phone's window
// (and notes); the module's lines, when noted, go to its notes and to
// standard output, which is module.log meanwhile.
hxflash::FlashOptions flashOptions(const BenchPackage& package, const PhoneFlashSetup& setup, const std::string& module,
                                   const Phones& phones) {
  hxflash::FlashOptions options;
  options.modulePath = module;
  options.packagePath = package.path;
  options.timeScale = setup.timeScale;
  for (const auto& phone : phones) options.comPorts.push_back(phone->comPort);
  auto countdownSeen = std::make_shared<std::atomic<bool>>(false);
  options.onEvent = [&phones, &setup, module, countdownSeen](uint32_t comPort, int, const hxflash::HostEvent& e) {
    FlashedPhone* phone = phoneOnPort(phones, comPort);
    if (!phone) return;
    phone->window.onEvent(e);
    if (setup.noteSessions && e.code == hxflash::kNotifyStatus) phone->notes.add(e.text);
    if (setup.countdownTimeScale && isCountdown(e) && !countdownSeen->exchange(true))
      setModuleTimeScale(module, *setup.countdownTimeScale);
  };
  if (setup.noteSessions)
    options.onModuleLine = [&phones](unsigned comPort, int, const std::string& line) {
      std::printf("%s\n", line.c_str());
      if (FlashedPhone* phone = phoneOnPort(phones, comPort)) phone->notes.add(line);
    };
  return options;
}

}  // namespace

std::string phoneFile(const PhoneFlashSetup& setup, uint32_t comPort, const char* what) {
  return setup.workDir + "/com" + std::to_string(comPort) + what;
}

std::unique_ptr<hxflash::ChildProcess> startPhoneProcess(const BenchPackage& package, const PhoneFlashSetup& setup,
                                                         const FlashedPhone& phone) {
  std::vector<std::string> argv = {HX_BENCH_HXPHONE,
                                   "run",
                                   "--port",
                                   std::to_string(phone.comPort),
                                   "--page-size",
                                   std::to_string(package.layout.geometry.pageSize),
                                   "--blocks",
                                   std::to_string(phoneBlocks(package.layout)),
                                   "--plug-delay-ms",
                                   std::to_string(setup.plugDelayMs),
                                   "--no-controlling-terminal"};
  if (setup.verify) argv.insert(argv.end(), {"--dump", phoneFile(setup, phone.comPort, ".nand")});
  argv.insert(argv.end(), phone.phoneArguments.begin(), phone.phoneArguments.end());
  const std::string log = phoneFile(setup, phone.comPort, "-phone.log");
  return std::make_unique<hxflash::ChildProcess>(argv, log, log);
}

bool verifyPhoneNand(const BenchPackage& package, const PhoneFlashSetup& setup, uint32_t comPort) {
  const std::string report = phoneFile(setup, comPort, "-verify.txt");
  hxflash::ChildProcess verify(
      {HX_BENCH_HXPHONE, "verify", "--package", package.path, "--dump", phoneFile(setup, comPort, ".nand")}, report,
      report);
  return verify.wait() == 0;
}

std::unique_ptr<FlashedPhone> phoneOn(uint32_t comPort, std::vector<std::string> phoneArguments) {
  auto phone = std::make_unique<FlashedPhone>();
  phone->comPort = comPort;
  phone->phoneArguments = std::move(phoneArguments);
  return phone;
}

bool flashPhones(const BenchPackage& package, const PhoneFlashSetup& setup, int round,
                 std::vector<std::unique_ptr<FlashedPhone>>& phones) {
  const std::string module = setup.workDir + "/module-" + std::to_string(round) + ".so";
  std::filesystem::copy_file(setup.module, module, std::filesystem::copy_options::overwrite_existing);

  std::vector<std::unique_ptr<hxflash::ChildProcess>> processes;
  std::vector<pid_t> pids;
  for (const auto& phone : phones) {
    processes.push_back(startPhoneProcess(package, setup, *phone));
    pids.push_back(processes.back()->pid());
  }
  if (setup.markTreeCpu)
    for (const auto& phone : phones) phone->window.sampleTreeCpu([pids] { return processTreeCpuSeconds(pids); });
  std::vector<hxflash::PhoneResult> results;
  {
    StdoutToFile log(setup.workDir + "/module.log");
    results = hxflash::FlashRun(flashOptions(package, setup, module, phones)).run();
  }

  bool all = true;
  for (size_t i = 0; i < phones.size(); ++i) {
    FlashedPhone& phone = *phones[i];
    for (const hxflash::PhoneResult& r : results)
      if (r.comPort == phone.comPort) phone.succeeded = r.succeeded;
    phone.phoneStatus = processes[i]->wait();  // the phone unplugs after its reset
    phone.verified = phone.succeeded && phone.phoneStatus == 0 && phone.window.complete() &&
                     (!setup.verify || verifyPhoneNand(package, setup, phone.comPort));
    all = all && phone.verified;
    std::error_code ec;
    if (!setup.keepFiles) std::filesystem::remove(phoneFile(setup, phone.comPort, ".nand"), ec);
  }
  std::error_code ec;
  if (!setup.keepFiles) std::filesystem::remove(module, ec);
  return all;
}

}  // namespace hxbench
