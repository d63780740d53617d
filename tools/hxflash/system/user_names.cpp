#include "system/user_names.h"

#include <grp.h>
#include <pwd.h>
#include <unistd.h>

namespace hxflash {

std::string userName() { return ownerName(::geteuid()); }

std::string ownerName(uid_t uid) {
  if (const passwd* pw = ::getpwuid(uid)) return pw->pw_name;
  return std::to_string(uid);
}

std::string groupName(gid_t gid) {
  if (const group* gr = ::getgrgid(gid)) return gr->gr_name;
  return std::to_string(gid);
}

}  // namespace hxflash
