#pragma once
// Opening and configuring a serial tty the way every port of the module is
// used: never the controlling terminal, never blocking on carrier detect,
// never inherited, exclusive, raw 8N1 with DTR and RTS raised.
#include <cstdint>
#include <string>

namespace hx {

// Opens COM port `comPort` at `baud`. Returns the descriptor (non-blocking), or
// -1 with the reason in *why.
int openComTty(uint32_t comPort, uint32_t baud, std::string* why);

// Releases the exclusivity and closes the descriptor.
void closeComTty(int fd);

// Changes only the line speed. 0 on success.
int setTtyBaud(int fd, uint32_t baud);

// Raises or drops DTR; a device without modem lines is not an error.
void setTtyDtr(int fd, bool on);

// Open attempts made on COM ports since the module was loaded, by purpose:
// the port manager's presence probes and the protocol link's opens.
uint64_t portProbeAttempts();
uint64_t linkOpenAttempts();
void countPortProbe();
void countLinkOpen();

}  // namespace hx
