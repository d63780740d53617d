#pragma once
// The hxphone process around its phones: the pty it publishes becomes its
// controlling terminal, which needs a session of its own, and SIGINT or
// SIGTERM stop the phone rather than the process.
#include "hxphone/phone_station.h"

namespace hxphone {

// Makes this process lead a session of its own. A process that already leads
// a process group (any shell job) cannot start one, so it forks: the child
// returns to run the phone, the parent passes SIGINT/SIGTERM on to it and
// exits with its status. False when no session could be had.
bool becomeSessionLeader();

// Runs the station until its last phone is gone, or until SIGINT or SIGTERM
// stops it; returns the last phone's outcome.
Outcome runUntilStopped(PhoneStation& station);

}  // namespace hxphone
