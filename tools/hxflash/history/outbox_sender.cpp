#include "history/outbox_sender.h"

#include <fmt/core.h>

#include <algorithm>

namespace hxflash {
namespace {

constexpr size_t kBatch = 64;
constexpr auto kFirstPause = std::chrono::seconds(1);
constexpr auto kLongestPause = std::chrono::seconds(30);

}  // namespace

bool sendOutbox(LocalHistory& local, ServerHistory& server, const std::atomic<bool>& stop) {
  for (;;) {
    const std::vector<OutgoingRecord> batch = local.outgoing(kBatch);
    if (batch.empty()) return true;
    if (!server.connect()) return false;
    for (const OutgoingRecord& out : batch) {
      if (stop) return false;
      if (!server.insert(out.record)) return false;
      local.sent(out.seq);
    }
  }
}

OutboxSender::OutboxSender(LocalHistory& local, const std::string& address,
                           std::function<void(const std::string&)> notice)
    : m_local(local), m_server(address, m_stop), m_notice(std::move(notice)), m_thread([this] { loop(); }) {}

OutboxSender::~OutboxSender() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void OutboxSender::wake() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_pending = true;
    m_empty = false;
  }
  m_wake.notify_all();
}

bool OutboxSender::drain(std::chrono::milliseconds limit) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_emptied.wait_for(lock, limit, [this] { return m_empty; });
}

void OutboxSender::loop() {
  auto pause = std::chrono::duration_cast<std::chrono::milliseconds>(kFirstPause);
  bool failing = false;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait(lock, [this] { return m_stop || m_pending; });
      if (m_stop) return;
      m_pending = false;
    }
    bool sent = false;
    try {
      sent = sendOutbox(m_local, m_server, m_stop);
    } catch (const HistoryRefused& e) {
      if (!failing) m_notice(e.what());  // the station's own file; the records stay in it
      failing = true;
    }
    if (m_stop) return;
    if (sent) {
      if (failing) m_notice(fmt::format("the server {} takes the records again", m_server.address()));
      failing = false;
      pause = kFirstPause;
      std::lock_guard<std::mutex> lock(m_mutex);
      if (!m_pending) m_empty = true;
      m_emptied.notify_all();
      continue;
    }
    if (!failing && !m_server.error().empty())
      m_notice(fmt::format("the server {} does not take the records ({}); they wait in {} and are sent when it "
                           "answers again",
                           m_server.address(), m_server.error(), m_local.path()));
    failing = true;
    // Tried again after the pause, or sooner when a new record comes.
    std::unique_lock<std::mutex> lock(m_mutex);
    m_wake.wait_for(lock, pause, [this] { return m_stop || m_pending; });
    if (m_stop) return;
    m_pending = true;
    pause = std::min<std::chrono::milliseconds>(pause * 2, kLongestPause);
  }
}

}  // namespace hxflash
