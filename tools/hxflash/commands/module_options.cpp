#include "commands/module_options.h"

#include "host/module_loader.h"

namespace hxflash {

void addModuleOptions(CLI::App& command, ModuleOptions& options) {
  if (options.module.empty()) options.module = defaultModulePath();
  const char* group = "Module";
  command.add_option("--module", options.module, "The plug-in module to load (a bare file name: in this directory)")
      ->check(CLI::ExistingFile)
      ->group(group);
  command.add_option("--time-scale", options.timeScale,
                     "Scale of the module's fixed waits such as the 80 s reset countdown (tests and demos only)")
      ->check(CLI::Range(0.0001, 1.0))
      ->group(group);
  command.add_flag("-v,--verbose", options.verbose, "Show every event the module reports")->group(group);
}

}  // namespace hxflash
