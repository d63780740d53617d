#pragma once
// Opening and configuring a serial tty the way every port of the module is
// used: never the controlling terminal, never blocking on carrier detect,
// never inherited, exclusive, raw 8N1 with DTR and RTS raised.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

namespace hx {

// Opens COM port `comPort` at `baud`. Returns the descriptor (non-blocking), or
// -1 with the reason in *why.
int openComTty(uint32_t comPort, uint32_t baud, std::string* why);

// Releases the exclusivity and closes the descriptor of COM port `comPort`.
// A close that would wait for bytes the phone has not taken goes on in the
// background (see port_closing.h).
void closeComTty(int fd, uint32_t comPort);

// Changes only the line speed. 0 on success.
int setTtyBaud(int fd, uint32_t baud);

// Sets speed and frame: `byteSize` data bits (5 to 8), parity as the Windows
// numbers it (0 none, 1 odd, 2 even, 3 mark, 4 space) and stop bits (0 one,
// 2 two; one and a half has no POSIX form). Input parity checking is on, flow
// control off, XON/XOFF characters 0x11/0x13. 0 on success.
int setTtyLine(int fd, uint32_t baud, uint8_t byteSize, uint8_t parity, uint8_t stopBits);

// Raises or drops DTR; a device without modem lines is not an error.
void setTtyDtr(int fd, bool on);

// How writeTty ended.
enum class TtyWriteEnd {
  Done,      // every byte was taken by the driver
  TimedOut,  // no room for the rest before the deadline
  Failed,    // the device failed or hung up
};

struct TtyWriteResult {
  TtyWriteEnd end;
  size_t written;  // bytes taken by the driver
};

// Writes n bytes to the non-blocking descriptor `fd`, waiting for room with
// poll() until `deadline`.
TtyWriteResult writeTty(int fd, const uint8_t* bytes, size_t n, std::chrono::steady_clock::time_point deadline);

// Milliseconds left until `deadline`, for poll(): at least 0.
int msUntil(std::chrono::steady_clock::time_point deadline);

}  // namespace hx
