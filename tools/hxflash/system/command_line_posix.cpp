#include "system/command_line.h"

namespace hxflash {

ProgramWords programWords(int argc, char** argv) { return ProgramWords{{argv, argv + argc}, std::nullopt}; }

std::string asTyped(std::string text) { return text; }

}  // namespace hxflash
