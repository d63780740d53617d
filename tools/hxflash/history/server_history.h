#pragma once
// The centre's PostgreSQL server, which the stations of a service centre
// share: the same records, keyed by their id. Every call is bounded in time
// (the connection, each statement, the socket's silence) and can be given up
// at once by a stop flag: waiting on the server never holds a phone.
//
// The password comes only from libpq's password file (~/.pgpass, or the file
// PGPASSFILE names); an address that carries one is refused, and no message
// of this file ever shows one. Every value reaches the server as a bound
// parameter.
#include <atomic>
#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "history/history_filter.h"
#include "history/phone_record.h"

struct pg_conn;

namespace hxflash {

inline constexpr std::chrono::seconds kServerCallBound{10};

// Whether `text` names a PostgreSQL server (postgresql:// or postgres://).
bool isServerAddress(const std::string& text);
// Why the address cannot be used (it carries a password, or libpq cannot
// read it), or nothing.
std::optional<std::string> serverAddressRefusal(const std::string& address);

class ServerHistory {
 public:
  // `stop`: when set, a call under way gives up at once.
  ServerHistory(std::string address, const std::atomic<bool>& stop);
  ~ServerHistory();
  ServerHistory(const ServerHistory&) = delete;
  ServerHistory& operator=(const ServerHistory&) = delete;

  // Connects, within the bound, and makes the table when the server has none.
  // False with the reason in error().
  bool connect();
  bool connected() const { return m_conn != nullptr; }
  // Inserts the record unless the server has its id already (an
  // acknowledgement lost on the way back). False with error() on failure:
  // the connection is closed then.
  bool insert(const PhoneRecord& record);
  // The records that match, oldest first; nothing on failure.
  std::optional<std::vector<PhoneRecord>> find(const HistoryFilter& filter);
  const std::string& error() const { return m_error; }
  // The address as people see it (it carries no password).
  const std::string& address() const { return m_address; }

 private:
  struct Result;
  // Sends one statement with its parameters and waits for its end within
  // the bound; the result rows on success.
  std::optional<Result> call(const std::string& sql, const std::vector<std::optional<std::string>>& parameters);
  bool waitSocket(bool forWriting, std::chrono::steady_clock::time_point end);
  void fail(const std::string& what);

  std::string m_address;
  const std::atomic<bool>& m_stop;
  pg_conn* m_conn = nullptr;
  std::string m_error;
};

}  // namespace hxflash
