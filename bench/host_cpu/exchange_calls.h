#pragma once
// The system calls the host makes per exchange with the phone, from a trace of
// the whole host program.
//
// The thread that talks to the phone is the one that writes the port most; the
// port is the device it writes most. Every call of that thread counts, of
// every kind (reads and writes of the port, waits, output-queue checks, log
// lines, locks), from its first write of the port to its last read of it.
// An exchange ends with a read of the port that returned bytes after at least
// one write of the port since the previous such read; the calls up to that
// read are that exchange's.
//
// Exchanges are told apart by the data they carry: an NFB chunk (a write of
// 4000 < size <= 4098 bytes), an FS packet (a write of 16897 bytes, or the
// writes that continue one the port took only in part), and the commands and
// answers between them.
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "syscall_trace.h"

namespace hxbench {

struct CallTally {
  long exchanges = 0;
  long calls = 0;
  std::map<std::string, long> byKind;  // "write(port)", "ppoll", "ioctl(TIOCOUTQ)", ...

  double callsPerExchange() const { return exchanges ? static_cast<double>(calls) / exchanges : 0; }
};

struct ExchangeCalls {
  long tid = 0;
  std::string port;
  CallTally all;  // every call of the span, over every exchange
  std::map<std::string, CallTally> byExchangeKind;  // "NFB chunk", "FS packet", "command"
  long callsAfterLastExchange = 0;  // in the span, but after the last exchange ended
};

constexpr const char* kNfbExchange = "NFB chunk";
constexpr const char* kFsExchange = "FS packet";
constexpr const char* kCommandExchange = "command";

// Throws when the trace holds no write of a device.
ExchangeCalls countExchangeCalls(const std::vector<TracedCall>& calls);

}  // namespace hxbench
