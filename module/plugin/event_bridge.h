#pragma once
// The event bridge: engine events carry a COM port number, not a session. A
// module-wide registry maps COM numbers to controllers, and the controller's
// session forwards the event to its host callback. Only controllers route
// through it: the steps below them report to what their controller hands them.
#include <cstdint>

namespace hx {

class CEngineClass;

// The module's engine event function.
void EngineEventProc(unsigned port, unsigned kind, int value, const char* text);

// Makes `controller` the receiver of COM number `comPort`'s events.
void registerController(uint32_t comPort, CEngineClass* controller);
// Removes `controller` from the registry wherever it is entered.
void unregisterController(CEngineClass* controller);
// The controller registered for `comPort`, or null.
CEngineClass* registeredController(uint32_t comPort);

}  // namespace hx
