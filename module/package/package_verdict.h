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
// area of length 0; that yields more than four FS images; with an FS image
// that admitFsImage refuses (its FsHeader cannot be found, or it will be
// written and is malformed or of a geometry the block writes cannot send); or
// with an FS image that will be written and has a mapped block below or a
// reserved block at or below the FS area start, or a region tag of 8 or more. An FS image of another version is skipped
// whatever its other fields say, and so are empty FS image records.
PackageVerdict judgePackage(const PackageRecords& records);

}  // namespace hx
