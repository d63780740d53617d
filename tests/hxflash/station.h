#pragma once
// hxflash run as a program, as a station's operator runs it, against virtual
// phones that are hxphone processes, in a private ports directory.
#include <chrono>
#include <cstdint>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "host/child_process.h"
#include "pkgbuild/package_builder.h"
#include "ports_dir.h"

namespace hxtest {

// How long a test waits for a program before it counts as hung: far beyond
// what any step takes, even on a loaded machine.
inline constexpr std::chrono::milliseconds kPatience{90000};

// A program's run, its standard output and error kept in files.
class ProgramRun {
 public:
  ProgramRun(const std::string& dir, const std::string& name, const std::vector<std::string>& argv);

  pid_t pid() const { return m_child.pid(); }
  void signal(int signal) { m_child.signal(signal); }
  std::string out() const;
  std::string err() const;
  // Waits until `text` shows in its standard output or error; false when it
  // did not within `limit`.
  bool waitForOut(const std::string& text, std::chrono::milliseconds limit = kPatience) const;
  bool waitForErr(const std::string& text, std::chrono::milliseconds limit = kPatience) const;
  // Its exit status; -1 when it still ran after `limit` (it is stopped then).
  int finish(std::chrono::milliseconds limit = kPatience);

 private:
  std::string m_outPath;
  std::string m_errPath;
  hxflash::ChildProcess m_child;
};

// A virtual phone on one COM port: an hxphone process that plugs in after
// `plugDelayMs`, serves one download and unplugs after its reset.
class PhoneProcess {
 public:
  // `name`: of its files in `dir`.
  PhoneProcess(const std::string& dir, const std::string& name, uint32_t comPort,
               const pkgbuild::BuiltPackage& package, const std::vector<std::string>& extra, int plugDelayMs);

  // Its port has appeared.
  bool waitPlugged(std::chrono::milliseconds limit = kPatience) const { return m_run.waitForOut("plugged", limit); }
  // Unplugs it (SIGTERM) and waits for it to end.
  void unplug();
  int finish() { return m_run.finish(); }
  // Its standard output: the "plugged" and "unplugged" lines.
  std::string out() const { return m_run.out(); }
  // What the phone saw, written when it unplugged.
  nlohmann::json record() const;

 private:
  std::string m_recordPath;
  ProgramRun m_run;
};

class Station {
 public:
  // A station with a small package that the module downloads.
  Station();
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  const std::string& dir() const { return m_dir; }
  PortsDir& ports() { return m_ports; }
  const std::string& packagePath() const { return m_packagePath; }
  const pkgbuild::BuiltPackage& package() const { return m_package; }

  // The history a flash run keeps when its arguments name none.
  std::string historyPath() const;
  // hxflash with these arguments (after the program's name).
  std::unique_ptr<ProgramRun> hxflash(const std::vector<std::string>& args);
  // The same run as another program does it (setpriv, a shell).
  std::unique_ptr<ProgramRun> run(const std::vector<std::string>& argv);
  // A phone on COM `comPort`; `extra`: hxphone's fault and behaviour options.
  std::unique_ptr<PhoneProcess> phone(uint32_t comPort, const std::vector<std::string>& extra = {},
                                      int plugDelayMs = 0);

 private:
  std::string m_dir;
  PortsDir m_ports;
  std::string m_packagePath;
  pkgbuild::BuiltPackage m_package;
  int m_programs = 0;
  int m_phones = 0;
  std::optional<std::string> m_stateHome;  // XDG_STATE_HOME before the station
};

// The lines of a --json run's standard output, each parsed; a line that is
// not JSON fails the test.
std::vector<nlohmann::json> jsonLines(const std::string& text);

// The module's waits scaled as in every flashing test: a countdown of 4 s,
// and room for the phone's replies on a loaded machine.
inline const std::vector<std::string> kScaledTime = {"--time-scale", "0.05"};

// `hxflash flash` of the station's package with these arguments, scaled.
std::vector<std::string> flashArgs(const Station& station, std::vector<std::string> more);

}  // namespace hxtest
