#include "link/port_names.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace hx {

std::string portsDirectory() {
  if (const char* dir = std::getenv("HXFLASH_PORTS_DIR"); dir && *dir) return dir;
  if (const char* run = std::getenv("XDG_RUNTIME_DIR"); run && *run) return std::string(run) + "/hxflash/ports";
  return "/tmp/hxflash-" + std::to_string(static_cast<unsigned long>(getuid())) + "/ports";
}

bool portsDirectoryTrusted(const std::string& dir, std::string* why) {
  struct stat st {};
  if (stat(dir.c_str(), &st) != 0) {
    *why = "ports directory " + dir + ": " + std::strerror(errno);
    return false;
  }
  if (!S_ISDIR(st.st_mode)) {
    *why = "ports directory " + dir + " is not a directory";
    return false;
  }
  if (st.st_uid != geteuid()) {
    *why = "ports directory " + dir + " is not owned by this user";
    return false;
  }
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    *why = "ports directory " + dir + " is writable by others";
    return false;
  }
  return true;
}

std::string comPortDevicePath(uint32_t comPort, std::string* why) {
  std::string reason;
  const std::string dir = portsDirectory();
  if (!portsDirectoryTrusted(dir, &reason)) {
    if (why) *why = reason;
    return {};
  }
  const std::string entry = dir + "/com" + std::to_string(comPort);
  struct stat st {};
  if (stat(entry.c_str(), &st) != 0) {
    if (why) *why = entry + ": " + std::strerror(errno);
    return {};
  }
  if (!S_ISCHR(st.st_mode)) {
    if (why) *why = entry + " is not a character device";
    return {};
  }
  return entry;
}

}  // namespace hx
