// `hxflash inspect PACKAGE [--json]`: what the module will do with a package.
// It loads the package with the module's own reader and shows the geometry,
// the entry table with each entry's role, every image, the bootloader and ROM
// information records, each FS image and the download verdict, as lines or as
// one JSON document (package_report/).
#include <memory>
#include <string>

#include "system/command_line.h"
#include "commands/commands.h"
#include "package_report/package_report.h"
#include "package_report/report_printers.h"

namespace hxflash {

void registerInspectCommand(CLI::App& app, int& exitCode) {
  auto* command = app.add_subcommand("inspect", "Show what the module will do with a firmware package");
  auto path = std::make_shared<std::string>();
  auto asJson = std::make_shared<bool>(false);
  command->add_option("PACKAGE", *path, "the firmware package")->required();
  command->add_flag("--json", *asJson, "print one JSON document");
  command->footer("Exit status: 0 the package is downloadable, 1 the module would refuse it.");
  command->callback([path, asJson, &exitCode] {
    const PackageReport report = reportPackage(*path, asTyped(*path));
    if (*asJson) {
      printReportJson(report);
    } else {
      printReportText(report);
    }
    exitCode = report.verdict.downloadable ? 0 : 1;
  });
}

}  // namespace hxflash
