#include "hxphone/port_link.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>

namespace hxphone {

namespace {
std::runtime_error systemError(const std::string& what) {
  return std::runtime_error(what + ": " + std::strerror(errno));
}
}  // namespace

std::string portsDirectory() {
  if (const char* dir = std::getenv("HXFLASH_PORTS_DIR"); dir && *dir) return dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/hxflash/ports";
  return "/tmp/hxflash-" + std::to_string(::getuid()) + "/ports";
}

void ensurePortsDirectory(const std::string& path) {
  std::filesystem::path dir(path);
  if (dir.has_parent_path() && !std::filesystem::exists(dir.parent_path())) {
    std::error_code ec;
    std::filesystem::create_directories(dir.parent_path(), ec);
    if (ec) throw std::runtime_error("cannot create " + dir.parent_path().string() + ": " + ec.message());
    ::chmod(dir.parent_path().c_str(), 0700);
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) throw systemError("mkdir " + path);
  struct stat st{};
  if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) throw std::runtime_error(path + " is not a directory");
}

std::string publishPortLink(const std::string& portsDir, unsigned port, const std::string& target) {
  ensurePortsDirectory(portsDir);
  const std::string link = portsDir + "/com" + std::to_string(port);
  const std::string temp = link + ".plugging." + std::to_string(::getpid());
  ::unlink(temp.c_str());
  if (::symlink(target.c_str(), temp.c_str()) != 0) throw systemError("symlink " + temp);
  if (::rename(temp.c_str(), link.c_str()) != 0) {
    ::unlink(temp.c_str());
    throw systemError("rename to " + link);
  }
  return link;
}

void withdrawPortLink(const std::string& link, const std::string& target) {
  if (link.empty()) return;
  char named[256];
  const ssize_t n = ::readlink(link.c_str(), named, sizeof named - 1);
  if (n <= 0) return;
  named[n] = '\0';
  if (target == named) ::unlink(link.c_str());
}

}  // namespace hxphone
