#include "package/package_source.h"

#include <cstring>

namespace hx {

bool MemoryPackageSource::readAt(uint64_t offset, uint8_t* destination, size_t n) {
  if (!contains(offset, n)) return false;
  if (n) std::memcpy(destination, m_bytes.data() + offset, n);
  return true;
}

}  // namespace hx
