#pragma once
// Whether a character device is a terminal, told by its device number against
// the tty drivers the kernel lists (/proc/tty/drivers: ptys, ACM, USB serial,
// UARTs), without opening it: opening some devices has effects.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace hxflash {

// Whether the device `major`:`minor` belongs to a driver of `drivers` (the
// text of /proc/tty/drivers); nothing when the text lists no driver at all.
std::optional<bool> isTerminalDevice(uint32_t major, uint32_t minor, std::string_view drivers);

// The same against this system's list; nothing when it cannot be read.
std::optional<bool> isTerminalDevice(uint32_t major, uint32_t minor);

}  // namespace hxflash
