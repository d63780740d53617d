#include "port_assignment.h"

#include <stdexcept>

namespace hxflash {

PortAssignment parsePortAssignment(const std::string& text) {
  PortAssignment recipe;
  const size_t eq = text.find('=');
  const std::string number = text.substr(0, eq);
  size_t used = 0;
  unsigned long com = 0;
  try {
    com = std::stoul(number, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (number.empty() || used != number.size() || com < 40 || com > 255)
    throw std::invalid_argument("port '" + text + "': expected a COM number 40..255, optionally =DEVICE");
  recipe.comPort = static_cast<uint32_t>(com);
  if (eq != std::string::npos) {
    recipe.device = text.substr(eq + 1);
    if (recipe.device.empty()) throw std::invalid_argument("port '" + text + "': no device after '='");
  }
  return recipe;
}

}  // namespace hxflash
