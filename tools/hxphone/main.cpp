// hxphone: a virtual HX9120 phone behind a pseudo-terminal.
//
//   hxphone run --port 41 [options]      plug a phone in as com41 and serve one download
//   hxphone verify --package P --dump D  check a NAND dump against a package
//   hxphone faults                       list the faults
#include <CLI/CLI.hpp>
#include <cstdio>
#include <exception>
#include <memory>
#include <vector>

#include "hxphone/subcommand.h"

int main(int argc, char** argv) {
  using namespace hxphone;
  CLI::App app{"hxphone: a virtual HX9120 phone behind a pseudo-terminal"};
  app.require_subcommand(1);
  std::vector<std::unique_ptr<Subcommand>> subcommands;
  subcommands.push_back(makeRunCommand(app));
  subcommands.push_back(makeVerifyCommand(app));
  subcommands.push_back(makeFaultsCommand(app));
  CLI11_PARSE(app, argc, argv);
  try {
    for (const auto& subcommand : subcommands)
      if (subcommand->chosen()) return subcommand->run();
    return kExitOk;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "hxphone: %s\n", e.what());
    return kExitBadArguments;
  }
}
