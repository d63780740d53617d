#pragma once
// Which serial ports belong to phones, told by the name the system shows for
// the port: the module keeps a port only when its name begins with one of the
// phone ports' names (exact, case-sensitive). On Linux the names to judge are
// a USB port's product string and its interface's name.
#include <string_view>

namespace hxflash {

// True when `name` marks a phone's port; an empty name never does.
bool isPhonePortName(std::string_view name);

}  // namespace hxflash
