#include "hxphone/phone_options.h"

namespace hxphone {

NandModel freshNand(const PhoneOptions& options) {
  NandModel nand(options.geometry);
  for (uint32_t block : options.factoryBadBlocks) nand.markFactoryBad(block);
  for (uint32_t block : options.failingBlocks) nand.setFailsWhenProgrammed(block);
  return nand;
}

}  // namespace hxphone
