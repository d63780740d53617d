#pragma once
// Sends the station's outbox to the centre's server, in the order the
// records were written, each once: a record leaves the outbox only after the
// server has it, and one sent twice (its acknowledgement lost) is kept once
// by the server, whose key is the record's id.
//
// During a run a thread of its own does it, off the phones' path: a server
// that is slow, frozen or gone delays no phone; it is tried again after a
// pause, and what it did not take waits for the next run or
// `hxflash history --sync`.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "history/local_history.h"
#include "history/server_history.h"

namespace hxflash {

// Sends what the outbox holds, oldest first, until it is empty, the server
// fails (false, with its reason in server.error()) or `stop` is set.
bool sendOutbox(LocalHistory& local, ServerHistory& server, const std::atomic<bool>& stop);

class OutboxSender {
 public:
  // `notice`: told once when the server stops taking records, and once when
  // it takes them again (from the sender's thread).
  OutboxSender(LocalHistory& local, const std::string& address, std::function<void(const std::string&)> notice);
  // Stops at once: a call under way is given up; what is unsent waits.
  ~OutboxSender();
  OutboxSender(const OutboxSender&) = delete;
  OutboxSender& operator=(const OutboxSender&) = delete;

  // A record has been added to the outbox.
  void wake();
  // Waits at most `limit` for the outbox to empty; whether it did.
  bool drain(std::chrono::milliseconds limit);

 private:
  void loop();

  LocalHistory& m_local;
  std::atomic<bool> m_stop{false};
  ServerHistory m_server;
  std::function<void(const std::string&)> m_notice;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_emptied;
  bool m_pending = true;  // the outbox may hold records (a former run's, too)
  bool m_empty = false;
  std::thread m_thread;
};

}  // namespace hxflash
