#pragma once
// Closing a COM port's tty without making the session wait for a phone that
// stopped reading.
//
// A USB serial port (the kernel's cdc-acm) that still holds queued bytes when
// it is closed waits for them to be sent: the tty's closing wait, 30 s unless
// root changed it. Nothing a station's user may do shortens it: flushing
// leaves the transfers already queued, a dropped DTR or stopped output is
// ignored, and changing the closing wait needs CAP_SYS_ADMIN. Only a signal
// or the phone's going (a hang-up) ends it, and a process that exits holding
// such a port waits the same. So such a close is handed to a thread of its
// own, and until it ends the port counts as still attached: the phone has not
// left, or its hang-up would have ended the wait.
#include <cstdint>

namespace hx {

// Whether a close of COM port `comPort` is still waiting for its queued bytes.
bool comPortClosing(uint32_t comPort);

}  // namespace hx
