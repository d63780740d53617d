#pragma once
// The names of users and groups as the system knows them, for messages; the
// number when the system knows no name.
#include <sys/types.h>

#include <string>

namespace hxflash {

std::string userName();  // the user this program runs as
std::string ownerName(uid_t uid);
std::string groupName(gid_t gid);

}  // namespace hxflash
