#pragma once
// What the flashing benchmarks share around their rounds: the options every
// one takes (the package's size, the rounds, whether to keep the files), the
// end of the working directory, the figure lines, and the report of a failure.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace hxbench {

struct RunOptions {
  uint64_t packageMiB = 64;
  int rounds = 3;
  bool keep = false;  // keep the working directory (package, logs, dumps, traces)
};

// Takes argv[i], and its value, when it is one of --mib N, --rounds N,
// --keep: moves i past it and returns true. Throws std::invalid_argument
// for a value out of range; returns false for any other argument.
bool takeRunOption(int argc, char** argv, int& i, RunOptions& options);

// Removes the working directory, or names it when it is kept.
void finishWorkDir(const std::string& dir, bool keep);

// One figure of the rounds: "<label>: median M (range LO..HI)".
void printRounds(const std::string& label, const std::vector<double>& values, int digits);

// What a figure should reach, as printed beside it: "goal <= 1.3",
// "goal >= 0.85".
struct Goal {
  std::string text;
};
Goal atMost(double bound);
Goal atLeast(double bound);

// The benchmark's result line, as the last lines carry them:
//   <name> <median> (<goal>[; <beside>])
// "<name> <median>" is what scripts/bench.sh collects; the parenthesis says
// what the median should reach and what belongs beside it (the absolute
// figure behind a ratio, say).
void printFigure(const std::string& name, const std::vector<double>& values, int digits, const Goal& goal,
                 const std::string& beside = {});

// Runs the benchmark: an exception is reported as "<program>: <what>" on
// standard error, with exit status 2.
int runBenchmark(const char* program, const std::function<int()>& body);

}  // namespace hxbench
