#pragma once
// The system calls of a program as `strace -f -y -o FILE` wrote them: one line
// per call, "TID name(arguments) = result ...". A call that another thread's
// call interrupted in the file is split over two lines, "TID name(arg, <unfinished ...>"
// and later "TID <... name resumed>rest) = result"; the two halves are joined
// here, so that every call counts once, in the place where it began. Signal
// and exit notes ("--- SIG...", "+++ ...") are not calls.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace hxbench {

struct TracedCall {
  long tid = 0;
  std::string name;
  std::vector<std::string> arguments;  // the top-level arguments, as strace wrote them
  // What strace -y wrote beside a descriptor given as the first argument:
  // "/dev/pts/3", "pipe:[1234]", "/tmp/x.log"; empty when there is none.
  std::string firstPath;
  std::optional<int64_t> result;  // none when strace wrote "?" (the thread ended in the call)
  std::string error;              // "EAGAIN" and the like when the call failed
};

// One line of the trace, whole (not an unfinished or resumed half); none when
// the line is not a call.
std::optional<TracedCall> parseCallLine(long tid, const std::string& text);

// Reads the calls of the trace file in the order they began. Throws when the
// file cannot be read.
std::vector<TracedCall> readTrace(const std::string& path);

// The same, from the lines of a trace already in memory.
std::vector<TracedCall> traceCalls(const std::vector<std::string>& lines);

}  // namespace hxbench
