#pragma once
// Checks a phone's NAND against a package: does the phone hold what a
// correct flash of that package leaves? It goes by the package builder's
// description of what it wrote, never by the module's reader:
//   - the bootloader and ext bootloader (from block 0), the ROM area (from
//     block 2, or after the bootloaders) with the primary and secondary ROM
//     images byte for byte;
//   - for every FS image the FS writer writes: exactly one info block left in
//     its info area (the old one erased), with the image's layout and version;
//     every data block at its mapped block, or where its remap entry points
//     (a reserved block of its region that is not bad), byte for byte with its
//     spare bytes; each region counter one past the highest spare it records.
#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "hxphone/nand_model.h"
#include "pkgbuild/package_builder.h"

namespace hxphone {

struct VerifyRequest {
  std::string packagePath;
  std::string dumpPath;
  uint32_t pageSize = 0;  // 0: the package's
};

struct VerifyReport {
  std::vector<std::string> checked;
  std::vector<std::string> problems;
  bool ok() const { return problems.empty(); }
  std::string text() const;
  nlohmann::json toJson() const;
};

VerifyReport verifyNand(const NandModel& nand, const pkgbuild::BuiltPackage& package);
// Rebuilds the package from its .desc.json and reads the dump.
VerifyReport verifyDump(const VerifyRequest& request);

}  // namespace hxphone
