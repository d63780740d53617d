#pragma once
// A station's own history: an SQLite file that keeps every phone's record,
// and the outbox of the records still to be sent to the centre's server.
//
// WAL mode with synchronous=FULL: a record's commit is on the disk before
// add() returns, so a crash or a power cut keeps every phone that ended.
// Several runs may write one file at once: each record is one BEGIN
// IMMEDIATE transaction, and a busy file is waited for, within a bound.
//
// The file carries this program's application id and its schema version; a
// file of another program, a damaged file, or one written by a newer hxflash
// is refused and left exactly as it was.
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "history/history_filter.h"
#include "history/phone_record.h"

struct sqlite3;

namespace hxflash {

inline constexpr int kHistorySchemaVersion = 2;
// "HXFH": the file is hxflash's history.
inline constexpr int kHistoryApplicationId = 0x48584648;

// A record waiting in the outbox, in the order the station wrote it.
struct OutgoingRecord {
  int64_t seq = 0;
  PhoneRecord record;
};

class LocalHistory {
 public:
  // Opens the history at `path`, made (with its folder) when it does not
  // exist and `create` is set. Older schemas are migrated. Throws
  // HistoryRefused for a file it must not use.
  LocalHistory(const std::string& path, bool create);
  ~LocalHistory();
  LocalHistory(const LocalHistory&) = delete;
  LocalHistory& operator=(const LocalHistory&) = delete;

  const std::string& path() const { return m_path; }
  // Keeps `record`, and puts it in the outbox when `forServer`: committed
  // when this returns. Throws HistoryRefused when it could not be written.
  void add(const PhoneRecord& record, bool forServer);
  // The records that match, oldest first.
  std::vector<PhoneRecord> find(const HistoryFilter& filter);
  // The oldest `most` records of the outbox.
  std::vector<OutgoingRecord> outgoing(size_t most);
  // The server has the record: it leaves the outbox.
  void sent(int64_t seq);
  size_t outgoingCount();

 private:
  void verifyOwnership();
  void migrate();
  void exec(const char* sql);

  std::string m_path;
  sqlite3* m_db = nullptr;
  std::mutex m_mutex;  // one connection, used by the ports' threads and the sender
};

// The default history: $XDG_STATE_HOME/hxflash/history.sqlite3, else
// ~/.local/state/hxflash/history.sqlite3.
std::string defaultHistoryPath();

}  // namespace hxflash
