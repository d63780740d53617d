#pragma once
// How many bytes of a package's images a flash sends to the phone: the
// bootloaders, the ROM images, and of each FS image the module writes its
// info block and its data blocks as they go out (a whole raw block when more
// than three of its pages are programmed, else only those pages).
#include <cstdint>

#include "pkgbuild/package_builder.h"

namespace hxbench {

uint64_t imageBytesSent(const pkgbuild::BuiltPackage& package);

}  // namespace hxbench
