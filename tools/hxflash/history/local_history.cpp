#include "history/local_history.h"

#include <fmt/core.h>
#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "history/record_columns.h"

namespace hxflash {
namespace {

// How long a record waits for a file another run is writing.
constexpr auto kBusyPatience = std::chrono::seconds(60);
constexpr int kBusyTimeoutMs = 5000;

const char* const kSchemaPhones =
    "CREATE TABLE phones(seq INTEGER PRIMARY KEY AUTOINCREMENT, id TEXT NOT NULL UNIQUE, station TEXT NOT NULL, "
    "started TEXT NOT NULL, ended TEXT NOT NULL, ended_ms INTEGER NOT NULL, com_port INTEGER NOT NULL, "
    "device TEXT NOT NULL, package TEXT NOT NULL, package_size INTEGER, package_crc32 INTEGER, "
    "outcome TEXT NOT NULL, failed_step TEXT NOT NULL, code INTEGER NOT NULL, reason TEXT NOT NULL, "
    "seconds REAL NOT NULL, bytes_sent INTEGER NOT NULL, log_path TEXT NOT NULL);"
    "CREATE INDEX phones_by_end ON phones(ended_ms);";
// Version 2: the outbox of records for the centre's server.
const char* const kSchemaOutbox = "CREATE TABLE outbox(seq INTEGER PRIMARY KEY REFERENCES phones(seq));";

std::string sqlitePlaceholder(int n) { return "?" + std::to_string(n); }

class Statement {
 public:
  Statement(sqlite3* db, const std::string& sql) : m_db(db) {
    if (sqlite3_prepare_v2(db, sql.c_str(), -1, &m_stmt, nullptr) != SQLITE_OK)
      throw HistoryRefused(std::string("the history cannot be read: ") + sqlite3_errmsg(db));
  }
  ~Statement() { sqlite3_finalize(m_stmt); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  void bind(int at, const std::string& text) { sqlite3_bind_text(m_stmt, at, text.c_str(), -1, SQLITE_TRANSIENT); }
  void bind(int at, int64_t value) { sqlite3_bind_int64(m_stmt, at, value); }
  void bind(int at, double value) { sqlite3_bind_double(m_stmt, at, value); }
  void bindNull(int at) { sqlite3_bind_null(m_stmt, at); }
  // True while there is a row.
  bool step() {
    const int rc = sqlite3_step(m_stmt);
    if (rc == SQLITE_ROW) return true;
    if (rc == SQLITE_DONE) return false;
    throw HistoryRefused(std::string("the history cannot be used: ") + sqlite3_errmsg(m_db));
  }
  int64_t integer(int column) const { return sqlite3_column_int64(m_stmt, column); }
  double real(int column) const { return sqlite3_column_double(m_stmt, column); }
  bool null(int column) const { return sqlite3_column_type(m_stmt, column) == SQLITE_NULL; }
  std::string text(int column) const {
    const unsigned char* t = sqlite3_column_text(m_stmt, column);
    return t ? reinterpret_cast<const char*>(t) : "";
  }

 private:
  sqlite3* m_db;
  sqlite3_stmt* m_stmt = nullptr;
};

PhoneRecord recordAt(const Statement& s, int first) {
  PhoneRecord r;
  r.id = s.text(first + 0);
  r.station = s.text(first + 1);
  r.started = s.text(first + 2);
  r.ended = s.text(first + 3);
  r.endedMs = s.integer(first + 4);
  r.comPort = static_cast<uint32_t>(s.integer(first + 5));
  r.device = s.text(first + 6);
  r.package = s.text(first + 7);
  if (!s.null(first + 8)) r.packageSize = static_cast<uint64_t>(s.integer(first + 8));
  if (!s.null(first + 9)) r.packageCrc32 = static_cast<uint32_t>(s.integer(first + 9));
  r.outcome = s.text(first + 10);
  r.failedStep = s.text(first + 11);
  r.code = static_cast<int>(s.integer(first + 12));
  r.reason = s.text(first + 13);
  r.seconds = s.real(first + 14);
  r.bytesSent = static_cast<uint64_t>(s.integer(first + 15));
  r.logPath = s.text(first + 16);
  return r;
}

bool busy(int rc) { return rc == SQLITE_BUSY || rc == SQLITE_LOCKED; }

// BEGIN IMMEDIATE, waiting for another run's transaction within the bound.
void beginImmediate(sqlite3* db, const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + kBusyPatience;
  for (;;) {
    const int rc = sqlite3_exec(db, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (!busy(rc) || std::chrono::steady_clock::now() >= end)
      throw HistoryRefused(fmt::format("the history {} cannot be written: {}", path, sqlite3_errmsg(db)));
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

void commit(sqlite3* db, const std::string& path) {
  const auto end = std::chrono::steady_clock::now() + kBusyPatience;
  for (;;) {
    const int rc = sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) return;
    if (!busy(rc) || std::chrono::steady_clock::now() >= end) {
      sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
      throw HistoryRefused(fmt::format("the history {} cannot be written: {}", path, sqlite3_errmsg(db)));
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
}

// One transaction: `body` runs inside BEGIN IMMEDIATE ... COMMIT, rolled back when it throws.
template <class Body>
void inTransaction(sqlite3* db, const std::string& path, Body body) {
  beginImmediate(db, path);
  try {
    body();
  } catch (...) {
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    throw;
  }
  commit(db, path);
}

}  // namespace

std::string defaultHistoryPath() {
  const char* state = std::getenv("XDG_STATE_HOME");
  if (state && state[0] == '/') return std::string(state) + "/hxflash/history.sqlite3";
  const char* home = std::getenv("HOME");
  return std::string(home && home[0] ? home : ".") + "/.local/state/hxflash/history.sqlite3";
}

LocalHistory::LocalHistory(const std::string& path, bool create) : m_path(path) {
  std::error_code ec;
  const bool exists = std::filesystem::exists(path, ec);
  if (exists && !std::filesystem::is_regular_file(path, ec))
    throw HistoryRefused(fmt::format("the history {} is not a file; hxflash leaves it as it is", path));
  if (!exists && !create) throw HistoryRefused(fmt::format("there is no history at {}", path));
  if (!exists) {
    const std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (!folder.empty()) std::filesystem::create_directories(folder, ec);
    if (!folder.empty()) ::chmod(folder.c_str(), 0700);  // only its user reads what the station did
  }
  const int flags = SQLITE_OPEN_READWRITE | (exists ? 0 : SQLITE_OPEN_CREATE) | SQLITE_OPEN_FULLMUTEX;
  if (sqlite3_open_v2(path.c_str(), &m_db, flags, nullptr) != SQLITE_OK) {
    const std::string why = m_db ? sqlite3_errmsg(m_db) : "out of memory";
    sqlite3_close(m_db);
    m_db = nullptr;
    throw HistoryRefused(fmt::format("the history {} cannot be opened: {}", path, why));
  }
  sqlite3_busy_timeout(m_db, kBusyTimeoutMs);
  try {
    verifyOwnership();
    // Only a file that is ours is changed: WAL, and every commit on the disk.
    exec("PRAGMA journal_mode=WAL");
    exec("PRAGMA synchronous=FULL");
    migrate();
  } catch (...) {
    sqlite3_close(m_db);
    m_db = nullptr;
    throw;
  }
}

LocalHistory::~LocalHistory() { sqlite3_close(m_db); }

void LocalHistory::exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(m_db, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string why = error ? error : sqlite3_errmsg(m_db);
    sqlite3_free(error);
    throw HistoryRefused(fmt::format("the history {} cannot be used: {}", m_path, why));
  }
}

// A file that is ours carries our application id; an empty one is new. Any
// other file, or one SQLite cannot read through, is refused before anything
// is written to it.
void LocalHistory::verifyOwnership() {
  int64_t applicationId = 0, version = 0, objects = 0;
  std::string check;
  try {
    Statement id(m_db, "PRAGMA application_id");
    if (id.step()) applicationId = id.integer(0);
    Statement v(m_db, "PRAGMA user_version");
    if (v.step()) version = v.integer(0);
    Statement n(m_db, "SELECT count(*) FROM sqlite_master");
    if (n.step()) objects = n.integer(0);
    if (applicationId == kHistoryApplicationId) {
      Statement quick(m_db, "PRAGMA quick_check");
      if (quick.step()) check = quick.text(0);
    }
  } catch (const HistoryRefused&) {
    throw HistoryRefused(fmt::format(
        "the history {} is damaged or is not a history of hxflash ({}); hxflash leaves it as it is: move it away "
        "or give another with --history",
        m_path, sqlite3_errmsg(m_db)));
  }
  // An SQLite file with nothing in it holds nothing to lose: another run may
  // have just made it, and is giving it the schema.
  const bool blank = applicationId == 0 && version == 0 && objects == 0;
  if (blank) return;
  if (applicationId != kHistoryApplicationId)
    throw HistoryRefused(fmt::format(
        "{} belongs to another program, not hxflash's history; hxflash leaves it as it is: give another file with "
        "--history",
        m_path));
  if (check != "ok")
    throw HistoryRefused(fmt::format(
        "the history {} is damaged ({}); hxflash leaves it as it is: move it away or give another with --history",
        m_path, check));
  if (version > kHistorySchemaVersion)
    throw HistoryRefused(fmt::format("the history {} was written by a newer hxflash (schema {}, this one knows {}); "
                                     "hxflash leaves it as it is",
                                     m_path, version, kHistorySchemaVersion));
}

// A new file gets the whole schema; an older one the steps it lacks, in one
// transaction each run: another run may be doing the same at once.
void LocalHistory::migrate() {
  inTransaction(m_db, m_path, [&] {
    Statement v(m_db, "PRAGMA user_version");
    const int64_t version = v.step() ? v.integer(0) : 0;
    if (version >= kHistorySchemaVersion) return;
    if (version < 1) {
      Statement n(m_db, "SELECT count(*) FROM sqlite_master");
      if (n.step() && n.integer(0) != 0)
        throw HistoryRefused(fmt::format("{} is not hxflash's history; hxflash leaves it as it is", m_path));
      exec(fmt::format("PRAGMA application_id={}", kHistoryApplicationId).c_str());
      exec(kSchemaPhones);
    }
    if (version < 2) exec(kSchemaOutbox);
    exec(fmt::format("PRAGMA user_version={}", kHistorySchemaVersion).c_str());
  });
}

void LocalHistory::add(const PhoneRecord& r, bool forServer) {
  std::lock_guard<std::mutex> lock(m_mutex);
  inTransaction(m_db, m_path, [&] {
    Statement insert(m_db, std::string("INSERT INTO phones(") + kRecordColumns + ") VALUES(" +
                               recordPlaceholders(sqlitePlaceholder) + ")");
    bindRecord(r, [&](int at, const RecordValue& value) {
      if (const auto* text = std::get_if<std::string>(&value)) insert.bind(at, *text);
      else if (const auto* integer = std::get_if<int64_t>(&value)) insert.bind(at, *integer);
      else if (const auto* real = std::get_if<double>(&value)) insert.bind(at, *real);
      else insert.bindNull(at);
    });
    insert.step();
    if (forServer) {
      Statement outbox(m_db, "INSERT INTO outbox(seq) VALUES(?1)");
      outbox.bind(1, static_cast<int64_t>(sqlite3_last_insert_rowid(m_db)));
      outbox.step();
    }
  });
}

std::vector<PhoneRecord> LocalHistory::find(const HistoryFilter& filter) {
  std::lock_guard<std::mutex> lock(m_mutex);
  const SqlCondition condition = sqlCondition(filter, sqlitePlaceholder);
  Statement query(m_db, std::string("SELECT ") + kRecordColumns + " FROM phones" + condition.where +
                            " ORDER BY ended_ms, seq");
  for (size_t i = 0; i < condition.parameters.size(); ++i) query.bind(static_cast<int>(i + 1), condition.parameters[i]);
  std::vector<PhoneRecord> records;
  while (query.step()) {
    PhoneRecord r = recordAt(query, 0);
    if (wantsPackage(filter, r)) records.push_back(std::move(r));
  }
  return records;
}

std::vector<OutgoingRecord> LocalHistory::outgoing(size_t most) {
  std::lock_guard<std::mutex> lock(m_mutex);
  Statement query(m_db, std::string("SELECT phones.seq, ") + kRecordColumns +
                            " FROM outbox JOIN phones ON phones.seq = outbox.seq ORDER BY outbox.seq LIMIT ?1");
  query.bind(1, static_cast<int64_t>(most));
  std::vector<OutgoingRecord> records;
  while (query.step()) records.push_back(OutgoingRecord{query.integer(0), recordAt(query, 1)});
  return records;
}

void LocalHistory::sent(int64_t seq) {
  std::lock_guard<std::mutex> lock(m_mutex);
  inTransaction(m_db, m_path, [&] {
    Statement remove(m_db, "DELETE FROM outbox WHERE seq = ?1");
    remove.bind(1, seq);
    remove.step();
  });
}

size_t LocalHistory::outgoingCount() {
  std::lock_guard<std::mutex> lock(m_mutex);
  Statement count(m_db, "SELECT count(*) FROM outbox");
  return count.step() ? static_cast<size_t>(count.integer(0)) : 0;
}

}  // namespace hxflash
