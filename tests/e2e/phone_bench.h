#pragma once
// A bench for end-to-end tests: a firmware package on disk, virtual phones
// plugged into COM ports of a private ports directory, and the real module
// flashing them through its exports.
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "host/flash_runner.h"
#include "hxphone/nand_model.h"
#include "hxphone/phone_options.h"
#include "hxphone/virtual_phone.h"
#include "pkgbuild/package_builder.h"
#include "ports_dir.h"
#include "pty_pair.h"

namespace hxtest {

// One virtual phone plugged into one COM port: a pty pair whose slave is
// the port's entry, the phone running on the master.
class PluggedPhone {
 public:
  PluggedPhone(PortsDir& ports, uint32_t comPort, hxphone::PhoneOptions options, hxphone::NandModel nand);
  ~PluggedPhone();

  // Plugs in and starts the phone.
  void plug();
  // Waits until the phone's run has ended (it resets after the watchdog
  // command, or a fault unplugs it) and it is unplugged.
  hxphone::Outcome finish();

  hxphone::VirtualPhone& phone() { return *m_phone; }
  uint32_t comPort() const { return m_comPort; }

 private:
  PortsDir& m_ports;
  uint32_t m_comPort;
  std::unique_ptr<PtyPair> m_pty;
  std::unique_ptr<hxphone::VirtualPhone> m_phone;
  std::thread m_life;  // runs the phone, then unplugs it
  bool m_plugged = false;
  bool m_finished = false;
};

// Phone options for a package: geometry, enough blocks for its FS area, a
// quiet log, and a short patience with a silent host.
hxphone::PhoneOptions phoneFor(const pkgbuild::BuiltPackage& package);

// Flashes one phone per entry of `phones` at once through the module, the
// phones plugged in shortly after the sessions started waiting. With
// `onModuleLine`, the module's lines go to it instead of standard output.
using ModuleLineFn = std::function<void(unsigned comPort, int code, const std::string& line)>;
std::vector<hxflash::PhoneResult> flashPhones(const std::string& packagePath, std::vector<PluggedPhone*> phones,
                                              double timeScale = 0.05, ModuleLineFn onModuleLine = {});

// A package written to a temporary directory, removed with the object.
class PackageFile {
 public:
  explicit PackageFile(const pkgbuild::PackageRecipe& recipe);
  ~PackageFile();
  // Changes the package's bytes (see pkgbuild/package_mutations.h) and writes
  // them anew; the description stays the recipe's.
  void mutate(const std::function<void(pkgbuild::BuiltPackage&)>& change);
  const std::string& path() const { return m_path; }
  const pkgbuild::BuiltPackage& built() const { return m_built; }

 private:
  std::string m_dir;
  std::string m_path;
  pkgbuild::BuiltPackage m_built;
};

}  // namespace hxtest
