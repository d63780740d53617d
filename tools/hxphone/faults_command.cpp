// hxphone faults: lists the faults a phone can show, with what each does,
// and the step names the step faults take.
#include <fmt/core.h>

#include "hxphone/faults.h"
#include "hxphone/subcommand.h"

namespace hxphone {

namespace {

class FaultsCommand : public Subcommand {
 public:
  explicit FaultsCommand(CLI::App& app) : Subcommand(app, "faults", "list the faults and step names") {}

  int run() override {
    for (const auto& [name, text] : faultDescriptions()) fmt::print("{:<30} {}\n", name, text);
    fmt::print("\nsteps:");
    for (auto step : kStepNames) fmt::print(" {}", step);
    fmt::print("\n");
    return kExitOk;
  }
};

}  // namespace

std::unique_ptr<Subcommand> makeFaultsCommand(CLI::App& app) { return std::make_unique<FaultsCommand>(app); }

}  // namespace hxphone
