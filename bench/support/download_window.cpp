#include "download_window.h"

#include <algorithm>
#include <array>

#include "cpu_time.h"

namespace hxbench {
namespace {

constexpr int kCodeStatus = 2;
constexpr int kCodeConnected = 16;
constexpr const char* kCountdownPrefix = "Waiting for Reset";

// The status reports that begin a step worth timing on its own.
constexpr std::array<const char*, 5> kStepStarts = {"Start DA Connect", "Start Write Bootloader",
                                                    "Start Send NAND image list", "Start Write NFB Image",
                                                    "Start Write FS Image"};

bool startsStep(const std::string& text) {
  for (const char* step : kStepStarts)
    if (text == step) return true;
  return false;
}

}  // namespace

void DownloadWindow::mark(const std::string& name) {
  const ProcessUsage usage = processUsage();
  const double treeCpu = m_treeCpu ? m_treeCpu() : 0.0;
  m_marks.push_back({name, std::chrono::steady_clock::now(), usage.cpuSeconds, usage.waits, treeCpu});
}

void DownloadWindow::sampleTreeCpu(std::function<double()> treeCpu) {
  std::lock_guard<std::mutex> lock(m_mutex);
  m_treeCpu = std::move(treeCpu);
}

void DownloadWindow::onEvent(const hxflash::HostEvent& event) {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (m_ended) return;
  if (event.code == kCodeConnected) {
    m_marks.clear();
    mark("connected");
    m_started = true;
    return;
  }
  if (!m_started || event.code != kCodeStatus) return;
  if (event.text.starts_with(kCountdownPrefix)) {
    mark("countdown");
    m_ended = true;
  } else if (startsStep(event.text)) {
    mark(event.text);
  }
}

std::vector<StepMark> DownloadWindow::marks() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_marks;
}

bool DownloadWindow::complete() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_started && m_ended;
}

DownloadWindow::Span DownloadWindow::untilCountdown(const std::string& from) const {
  std::lock_guard<std::mutex> lock(m_mutex);
  if (!m_ended) return {};
  const auto first = std::find_if(m_marks.begin(), m_marks.end(), [&](const StepMark& m) { return m.name == from; });
  if (first == m_marks.end()) return {};
  const StepMark& last = m_marks.back();
  return {std::chrono::duration<double>(last.when - first->when).count(), last.cpuSeconds - first->cpuSeconds,
          last.waits - first->waits};
}

}  // namespace hxbench
