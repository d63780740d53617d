#include "station.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace hxtest {
namespace {

std::string readFile(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

bool waitForText(const std::string& path, const std::string& text, std::chrono::milliseconds limit) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (readFile(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// Enough blocks for every block the package's FS images name.
uint32_t phoneBlocks(const pkgbuild::PackageLayout& layout) {
  uint64_t last = (layout.fsAreaStart + layout.fsAreaLength) / layout.geometry.blockDataSize;
  for (const pkgbuild::FsImageLayout& fs : layout.fsImages) {
    for (const auto& b : fs.mappedBlocks) last = std::max<uint64_t>(last, b.block);
    for (const auto& b : fs.reservedBlocks) last = std::max<uint64_t>(last, b.block);
  }
  return static_cast<uint32_t>(last + 16);
}

// A real phone answers the host within microseconds; the host's handshake
// gives it about 20 ms before it starts over, and a virtual phone that misses
// that on a loaded machine answers into the next attempt. The phones run at a
// higher priority where this user may raise it.
std::vector<std::string> phonePriority() {
  if (::geteuid() != 0 || ::access("/usr/bin/nice", X_OK) != 0) return {};
  return {"/usr/bin/nice", "-n", "-10"};
}

}  // namespace

ProgramRun::ProgramRun(const std::string& dir, const std::string& name, const std::vector<std::string>& argv)
    : m_outPath(dir + "/" + name + ".out"), m_errPath(dir + "/" + name + ".err"),
      m_child(argv, m_outPath, m_errPath) {}

std::string ProgramRun::out() const { return readFile(m_outPath); }
std::string ProgramRun::err() const { return readFile(m_errPath); }

bool ProgramRun::waitForOut(const std::string& text, std::chrono::milliseconds limit) const {
  return waitForText(m_outPath, text, limit);
}

bool ProgramRun::waitForErr(const std::string& text, std::chrono::milliseconds limit) const {
  return waitForText(m_errPath, text, limit);
}

int ProgramRun::finish(std::chrono::milliseconds limit) {
  if (const auto status = m_child.waitFor(limit)) return *status;
  ADD_FAILURE() << "still running after " << limit.count() << " ms; output:\n" << out() << "\nerrors:\n" << err();
  m_child.signal(SIGKILL);
  m_child.wait();
  return -1;
}

PhoneProcess::PhoneProcess(const std::string& dir, const std::string& name, uint32_t comPort,
                           const pkgbuild::BuiltPackage& package, const std::vector<std::string>& extra,
                           int plugDelayMs)
    : m_recordPath(dir + "/" + name + ".json"),
      m_run(dir, name, [&] {
        std::vector<std::string> argv = phonePriority();
        argv.insert(argv.end(), {HXPHONE_PATH, "run", "--port", std::to_string(comPort), "--page-size",
                                 std::to_string(package.layout.geometry.pageSize), "--blocks",
                                 std::to_string(phoneBlocks(package.layout)), "--plug-delay-ms",
                                 std::to_string(plugDelayMs), "--record", m_recordPath, "--no-controlling-terminal"});
        argv.insert(argv.end(), extra.begin(), extra.end());
        return argv;
      }()) {}

void PhoneProcess::unplug() {
  m_run.signal(SIGTERM);
  m_run.finish();
}

nlohmann::json PhoneProcess::record() const {
  const std::string text = readFile(m_recordPath);
  if (text.empty()) return nlohmann::json::object();
  return nlohmann::json::parse(text);
}

Station::Station() {
  char templ[] = "/tmp/hxflash-station-XXXXXX";
  if (!mkdtemp(templ)) throw std::runtime_error("mkdtemp");
  m_dir = templ;
  ::chmod(m_dir.c_str(), 0755);  // a program run as another user reads the package
  m_packagePath = m_dir + "/Firmware.bin";
  m_package = pkgbuild::writePackage(m_packagePath, pkgbuild::tinyRecipe(2048));
  // Every program the test runs keeps its default history here, never in the
  // user's own.
  if (const char* state = std::getenv("XDG_STATE_HOME")) m_stateHome = state;
  ::setenv("XDG_STATE_HOME", (m_dir + "/state").c_str(), 1);
}

Station::~Station() {
  if (m_stateHome) ::setenv("XDG_STATE_HOME", m_stateHome->c_str(), 1);
  else ::unsetenv("XDG_STATE_HOME");
  std::error_code ec;
  std::filesystem::remove_all(m_dir, ec);
}

std::unique_ptr<ProgramRun> Station::hxflash(const std::vector<std::string>& args) {
  std::vector<std::string> argv = {HXFLASH_PATH};
  argv.insert(argv.end(), args.begin(), args.end());
  // A flash run's logs stay in the station's folder, which the test removes.
  const bool flash = !args.empty() && args[0] == "flash";
  if (flash && std::find(args.begin(), args.end(), "--log-dir") == args.end())
    argv.insert(argv.end(), {"--log-dir", m_dir + "/logs" + std::to_string(m_programs + 1)});
  // ... and so does its history: never the user's own.
  const bool history = std::find(args.begin(), args.end(), "--history") != args.end() ||
                       std::find(args.begin(), args.end(), "--no-history") != args.end();
  if (flash && !history) argv.insert(argv.end(), {"--history", historyPath()});
  return run(argv);
}

std::string Station::historyPath() const { return m_dir + "/history.sqlite3"; }

std::unique_ptr<ProgramRun> Station::run(const std::vector<std::string>& argv) {
  return std::make_unique<ProgramRun>(m_dir, "run" + std::to_string(++m_programs), argv);
}

std::unique_ptr<PhoneProcess> Station::phone(uint32_t comPort, const std::vector<std::string>& extra,
                                             int plugDelayMs) {
  const std::string name = "phone" + std::to_string(++m_phones) + "-com" + std::to_string(comPort);
  return std::make_unique<PhoneProcess>(m_dir, name, comPort, m_package, extra, plugDelayMs);
}

std::vector<nlohmann::json> jsonLines(const std::string& text) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(text);
  std::string line;
  while (std::getline(in, line)) {
    try {
      lines.push_back(nlohmann::json::parse(line));
    } catch (const nlohmann::json::exception& e) {
      ADD_FAILURE() << "not a JSON line: " << line << " (" << e.what() << ")";
    }
  }
  return lines;
}

std::vector<std::string> flashArgs(const Station& station, std::vector<std::string> more) {
  std::vector<std::string> args = {"flash", station.packagePath()};
  args.insert(args.end(), more.begin(), more.end());
  args.insert(args.end(), kScaledTime.begin(), kScaledTime.end());
  return args;
}

}  // namespace hxtest
