#include "host/port_assignment.h"

#include <stdexcept>
#include <string>

namespace hxflash {

namespace {

// "COM41", "com41" or "41": the port's number as Windows names it, or alone.
std::string numberOf(std::string port) {
  if (port.size() > 3 && (port[0] == 'C' || port[0] == 'c') && (port[1] == 'O' || port[1] == 'o') &&
      (port[2] == 'M' || port[2] == 'm'))
    port.erase(0, 3);
  return port;
}

}  // namespace

PortAssignment parsePortAssignment(const std::string& text) {
  PortAssignment recipe;
  const size_t eq = text.find('=');
  const std::string number = numberOf(text.substr(0, eq));
  size_t used = 0;
  unsigned long com = 0;
  try {
    com = std::stoul(number, &used, 10);
  } catch (const std::exception&) {
    used = 0;
  }
  if (number.empty() || used != number.size() || com > kLastServedComPort ||
      !isServedComPort(static_cast<uint32_t>(com))) {
#if defined(_WIN32)
    throw std::invalid_argument("port '" + text + "': the module serves " + std::string(kServedComPorts) + "; " + kComNumberAdvice);
#else
    throw std::invalid_argument("port '" + text + "': expected a COM number " + std::string(kServedComNumbers) + ", optionally =DEVICE");
#endif
  }
  recipe.comPort = static_cast<uint32_t>(com);
  if (eq != std::string::npos) {
    recipe.device = text.substr(eq + 1);
    if (recipe.device.empty()) throw std::invalid_argument("port '" + text + "': no device after '='");
  }
  return recipe;
}

}  // namespace hxflash
