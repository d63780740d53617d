#pragma once
// Why something asked of hxflash cannot be done: the one sentence that says
// so, or nothing when it can.
#include <optional>
#include <string>

namespace hxflash {

using Refusal = std::optional<std::string>;

}  // namespace hxflash
