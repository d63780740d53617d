// hxphone verify: checks a NAND dump against a package and prints the
// findings, as text or as JSON.
#include <cstdio>

#include "hxphone/command_options.h"
#include "hxphone/subcommand.h"
#include "hxphone/verify.h"

namespace hxphone {

namespace {

class VerifyCommand : public Subcommand {
 public:
  explicit VerifyCommand(CLI::App& app) : Subcommand(app, "verify", "check a NAND dump against a package") {
    addPackageOption(command(), m_request.packagePath, "the package (its .desc.json beside it)")->required();
    addDumpOption(command(), m_request.dumpPath, "the NAND dump")->required();
    addPageSizeOption(command(), m_request.pageSize, "the dump's page size (default: the package's)");
    command().add_flag("--json", m_json, "print the findings as JSON");
  }

  int run() override {
    const VerifyReport report = verifyDump(m_request);
    std::printf("%s", m_json ? (report.toJson().dump(2) + "\n").c_str() : report.text().c_str());
    return report.ok() ? kExitOk : kExitRefused;
  }

 private:
  VerifyRequest m_request;
  bool m_json = false;
};

}  // namespace

std::unique_ptr<Subcommand> makeVerifyCommand(CLI::App& app) { return std::make_unique<VerifyCommand>(app); }

}  // namespace hxphone
