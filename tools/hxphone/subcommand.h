#pragma once
// A subcommand of the hxphone executable: made once on the command line, it
// declares its options there, and runs when the user chose it. Each
// subcommand lives in its own file (run_command.cpp, verify_command.cpp,
// faults_command.cpp); main.cpp only builds the command line from them.
#include <CLI/CLI.hpp>
#include <memory>
#include <string>

namespace hxphone {

// The exit statuses of hxphone.
enum ExitStatus : int {
  kExitOk = 0,            // run: the phone reset (or was stopped); verify: the phone holds the package
  kExitRefused = 1,       // run: the host sent something the phone refuses; verify: the phone does not hold it
  kExitBadArguments = 2,  // bad arguments, or an error before the phone ran
  kExitOtherEnd = 3,      // run: any other end (host gone, unplugged by a fault)
};

class Subcommand {
 public:
  virtual ~Subcommand() = default;
  Subcommand(const Subcommand&) = delete;
  Subcommand& operator=(const Subcommand&) = delete;

  // Whether the user chose this subcommand; valid once the command line is parsed.
  bool chosen() const { return m_command->parsed(); }
  // Does what the subcommand does; returns the exit status. Throws on bad
  // arguments found only now and on errors that stop it.
  virtual int run() = 0;

 protected:
  Subcommand(CLI::App& app, const std::string& name, const std::string& description)
      : m_command(app.add_subcommand(name, description)) {}
  CLI::App& command() { return *m_command; }

 private:
  CLI::App* m_command;
};

std::unique_ptr<Subcommand> makeRunCommand(CLI::App& app);
std::unique_ptr<Subcommand> makeVerifyCommand(CLI::App& app);
std::unique_ptr<Subcommand> makeFaultsCommand(CLI::App& app);

}  // namespace hxphone
