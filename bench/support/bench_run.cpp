#include "bench_run.h"

#include <cstdio>
#include <cstdlib>
#include <exception>
#include <filesystem>
#include <stdexcept>

#include "bench_files.h"

namespace hxbench {

bool takeRunOption(int argc, char** argv, int& i, RunOptions& options) {
  const std::string a = argv[i];
  const bool valued = i + 1 < argc;
  if (a == "--mib" && valued) {
    options.packageMiB = std::strtoull(argv[++i], nullptr, 10);
    if (options.packageMiB < 1 || options.packageMiB > 1024) throw std::invalid_argument("--mib takes 1..1024");
  } else if (a == "--rounds" && valued) {
    options.rounds = std::atoi(argv[++i]);
    if (options.rounds < 1 || options.rounds > 20) throw std::invalid_argument("--rounds takes 1..20");
  } else if (a == "--keep") {
    options.keep = true;
  } else {
    return false;
  }
  return true;
}

void finishWorkDir(const std::string& dir, bool keep) {
  if (keep) {
    std::printf("files in %s\n", dir.c_str());
    return;
  }
  std::error_code ec;
  std::filesystem::remove_all(dir, ec);
}

void printRounds(const std::string& label, const std::vector<double>& values, int digits) {
  std::printf("%s: %s\n", label.c_str(), medianAndRange(values, digits).c_str());
}

namespace {
Goal goal(const char* relation, double bound) {
  char text[64];
  std::snprintf(text, sizeof text, "goal %s %g", relation, bound);
  return {text};
}
}  // namespace

Goal atMost(double bound) { return goal("<=", bound); }
Goal atLeast(double bound) { return goal(">=", bound); }

void printFigure(const std::string& name, const std::vector<double>& values, int digits, const Goal& goal,
                 const std::string& beside) {
  std::printf("%s %.*f (%s%s%s)\n", name.c_str(), digits, median(values), goal.text.c_str(), beside.empty() ? "" : "; ",
              beside.c_str());
}

int runBenchmark(const char* program, const std::function<int()>& body) {
  try {
    return body();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s: %s\n", program, e.what());
    return 2;
  }
}

}  // namespace hxbench
