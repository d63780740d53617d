#pragma once
// FS entries of the package: copied raw, or, when their FsHeader has version
// 5.2.0, split into one FS image per non-empty FS volume with a rebuilt
// header and rebuilt mapping words.
#include <string>
#include <vector>

#include "package/package_image.h"
#include "package/package_reader.h"

namespace hx {

// The entry's FS info block carries an FsHeader of version 5.2.0.
bool isMultiVolumeFs(PackageReader& reader, const PackageEntry& entry);

// Appends the entry's raw blocks, spare bytes included, as one FS image.
bool copyRawFsImage(PackageReader& reader, const PackageEntry& entry, uint32_t entryIndex,
                    std::vector<PackageImage>& images, std::string& problem);

// Appends one FS image per FS volume up to the first empty one.
bool splitFsVolumes(PackageReader& reader, const PackageEntry& entry, uint32_t entryIndex,
                    std::vector<PackageImage>& images, std::string& problem);

}  // namespace hx
