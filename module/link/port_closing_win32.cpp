#include "link/port_closing.h"

namespace hx {

// CloseHandle of a COM port does not wait for queued bytes.
bool comPortClosing(uint32_t) { return false; }

}  // namespace hx
