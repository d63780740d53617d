#pragma once
// Whether a loaded package can be downloaded at all, decided from the package
// alone before anything is sent to the agent.
#include <string>

#include "package/package_records.h"

namespace hx {

struct PackageVerdict {
  bool downloadable = false;
  std::string reason;  // why not, for the refusal log line; empty when downloadable
};

// Refuses a package that did not load; whose bootloader information record is
// missing or shorter than its version needs; whose ROM image or secondary ROM
// image is empty; whose ROM image has no ROM information marker in its first
// 0x100000 bytes or a record with fewer than two area-table entries or an FS
// area of length 0; that yields more than four FS images; or whose FS image
// is malformed (see parseFsImageHeader) or, when it is a 5.2.0 image, has a
// mapped block below or a reserved block at or below the FS area start.
// Empty FS image records are skipped.
PackageVerdict judgePackage(const PackageRecords& records);

}  // namespace hx
