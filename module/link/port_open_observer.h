#pragma once
// A seam for tests: every attempt to open a COM port is reported, with its
// purpose, to an observer a test may install. The module installs none.
namespace hx {

enum class PortOpenPurpose {
  PresenceProbe,  // the port manager looks whether the port is there
  Link,           // the protocol link opens the port for a conversation
};

using PortOpenObserver = void (*)(PortOpenPurpose);

// Installs `observer` (nullptr: none). Safe to call while sessions run.
void setPortOpenObserver(PortOpenObserver observer);

// Reports one open attempt to the installed observer, if any.
void notePortOpen(PortOpenPurpose purpose);

}  // namespace hx
