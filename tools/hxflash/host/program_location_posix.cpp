#include "host/program_location.h"

#include <filesystem>

namespace hxflash {

std::string programDirectory() {
  std::error_code ec;
  const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return {};
  return program.parent_path().string();
}

}  // namespace hxflash
