#pragma once
// Watches one session's reports and notes, at each step of the download, the
// wall time and the host process's CPU time: from the connection report
// (Download begins right after it) to the first "Waiting for Reset" report
// (the download is over; the reset countdown begins). The agent connection
// includes fixed waits of the module clock (scaled in this run), so the
// transfer of the images is timed from "Start Write Bootloader" on.
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "host/flash_runner.h"

namespace hxbench {

struct StepMark {
  std::string name;
  std::chrono::steady_clock::time_point when;
  double cpuSeconds = 0;
  long waits = 0;  // the process's voluntary context switches so far
  double treeCpuSeconds = 0;  // this process and its phones, when the window samples them
};

class DownloadWindow {
 public:
  // Called for every report of the session (from its thread).
  void onEvent(const hxflash::HostEvent& event);
  // Each mark from now on also notes `treeCpu()`: the CPU time of this
  // process and its phones (process_tree_cpu.h). Set before the reports come.
  void sampleTreeCpu(std::function<double()> treeCpu);

  // The marks in order: "connected", the steps of the download, "countdown".
  std::vector<StepMark> marks() const;
  bool complete() const;  // both ends were seen

  struct Span {
    double seconds = 0;
    double cpuSeconds = 0;
    long waits = 0;
  };
  // From the first mark named `from` to the countdown; zero when either is missing.
  Span untilCountdown(const std::string& from) const;

 private:
  void mark(const std::string& name);

  mutable std::mutex m_mutex;
  std::vector<StepMark> m_marks;
  std::function<double()> m_treeCpu;
  bool m_started = false;
  bool m_ended = false;
};

}  // namespace hxbench
