#include "protocol/engine_events.h"

namespace hx {

int percentOf(uint64_t done, uint64_t total) {
  if (total == 0) return 100;
  return static_cast<int>(static_cast<double>(done) / static_cast<double>(total) * 100.0);
}

}  // namespace hx
