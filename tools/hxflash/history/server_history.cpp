#include "history/server_history.h"

#include <fmt/core.h>
#include <libpq-fe.h>
#include <poll.h>

#include <charconv>

#include "history/record_columns.h"

namespace hxflash {
namespace {

// How often a wait on the server looks at the stop flag.
constexpr int kStopLookMs = 100;

const char* const kServerTable =
    "CREATE TABLE IF NOT EXISTS hxflash_phones(received BIGSERIAL, id TEXT PRIMARY KEY, station TEXT NOT NULL, "
    "started TEXT NOT NULL, ended TEXT NOT NULL, ended_ms BIGINT NOT NULL, com_port INTEGER NOT NULL, "
    "device TEXT NOT NULL, package TEXT NOT NULL, package_size BIGINT, package_crc32 BIGINT, "
    "outcome TEXT NOT NULL, failed_step TEXT NOT NULL, code INTEGER NOT NULL, reason TEXT NOT NULL, "
    "seconds DOUBLE PRECISION NOT NULL, bytes_sent BIGINT NOT NULL, log_path TEXT NOT NULL)";
const char* const kServerIndex = "CREATE INDEX IF NOT EXISTS hxflash_phones_by_end ON hxflash_phones(ended_ms)";

std::string serverPlaceholder(int n) { return "$" + std::to_string(n); }

template <class Number>
bool parseNumber(const std::optional<std::string>& text, Number& out) {
  if (!text) return false;
  const char* end = text->data() + text->size();
  if constexpr (std::is_floating_point_v<Number>) {
    try {
      size_t used = 0;
      out = static_cast<Number>(std::stod(*text, &used));
      return used == text->size();
    } catch (const std::exception&) {
      return false;
    }
  } else {
    return std::from_chars(text->data(), end, out).ptr == end;
  }
}

// libpq's message on one line, without its trailing line end.
std::string oneLine(const char* message) {
  std::string text = message ? message : "";
  for (char& c : text)
    if (c == '\n' || c == '\r') c = ' ';
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace

struct ServerHistory::Result {
  std::vector<std::vector<std::optional<std::string>>> rows;
};

bool isServerAddress(const std::string& text) {
  return text.starts_with("postgresql://") || text.starts_with("postgres://");
}

std::optional<std::string> serverAddressRefusal(const std::string& address) {
  char* error = nullptr;
  PQconninfoOption* options = PQconninfoParse(address.c_str(), &error);
  // libpq's own words could quote the address back: they are not shown.
  PQfreemem(error);
  if (!options) return "the server's address cannot be read as a postgresql:// address";
  bool password = false;
  for (PQconninfoOption* o = options; o->keyword; ++o)
    if (std::string(o->keyword) == "password" && o->val && o->val[0]) password = true;
  PQconninfoFree(options);
  if (password)
    return "the server's address carries a password, which others see on the command line: put it in ~/.pgpass "
           "(or the file PGPASSFILE names) and give the address without it";
  return std::nullopt;
}

ServerHistory::ServerHistory(std::string address, const std::atomic<bool>& stop)
    : m_address(std::move(address)), m_stop(stop) {}

ServerHistory::~ServerHistory() { PQfinish(m_conn); }

void ServerHistory::fail(const std::string& what) {
  m_error = what;
  PQfinish(m_conn);
  m_conn = nullptr;
}

bool ServerHistory::waitSocket(bool forWriting, std::chrono::steady_clock::time_point end) {
  for (;;) {
    if (m_stop) return false;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    pollfd p{PQsocket(m_conn), static_cast<short>(forWriting ? POLLOUT : POLLIN), 0};
    const int ready = ::poll(&p, 1, static_cast<int>(std::min<int64_t>(left.count(), kStopLookMs)));
    if (ready > 0) return true;
    if (ready < 0 && errno != EINTR) return false;
  }
}

bool ServerHistory::connect() {
  if (m_conn) return true;
  const std::string bound = std::to_string(kServerCallBound.count());
  const std::string statementBound = fmt::format("-c statement_timeout={}", kServerCallBound.count() * 1000);
  const std::string socketBound = std::to_string(kServerCallBound.count() * 1000);
  const char* keys[] = {"dbname", "connect_timeout", "options", "tcp_user_timeout", "keepalives",
                        "keepalives_idle", "keepalives_interval", "keepalives_count", "application_name", nullptr};
  const char* values[] = {m_address.c_str(), bound.c_str(), statementBound.c_str(), socketBound.c_str(), "1",
                          "5", "2", "3", "hxflash", nullptr};
  m_conn = PQconnectStartParams(keys, values, 1);
  if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD) {
    fail(oneLine(m_conn ? PQerrorMessage(m_conn) : "out of memory"));
    return false;
  }
  const auto end = std::chrono::steady_clock::now() + kServerCallBound;
  for (PostgresPollingStatusType state = PGRES_POLLING_WRITING;;) {
    if (state == PGRES_POLLING_OK) break;
    if (state == PGRES_POLLING_FAILED) {
      fail(oneLine(PQerrorMessage(m_conn)));
      return false;
    }
    if (!waitSocket(state == PGRES_POLLING_WRITING, end)) {
      fail(m_stop ? "given up: the run ended" : fmt::format("no answer within {} s", kServerCallBound.count()));
      return false;
    }
    state = PQconnectPoll(m_conn);
  }
  if (PQsetnonblocking(m_conn, 1) != 0) {
    fail(oneLine(PQerrorMessage(m_conn)));
    return false;
  }
  return call(kServerTable, {}) && call(kServerIndex, {});
}

std::optional<ServerHistory::Result> ServerHistory::call(const std::string& sql,
                                                         const std::vector<std::optional<std::string>>& parameters) {
  if (!m_conn) return std::nullopt;
  std::vector<const char*> values;
  for (const auto& p : parameters) values.push_back(p ? p->c_str() : nullptr);
  if (!PQsendQueryParams(m_conn, sql.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                         nullptr, 0)) {
    fail(oneLine(PQerrorMessage(m_conn)));
    return std::nullopt;
  }
  const auto end = std::chrono::steady_clock::now() + kServerCallBound;
  for (int flushed = PQflush(m_conn); flushed != 0; flushed = PQflush(m_conn)) {
    if (flushed < 0 || !waitSocket(true, end)) {
      fail(flushed < 0 ? oneLine(PQerrorMessage(m_conn)) : "the server did not take the statement in time");
      return std::nullopt;
    }
  }
  Result result;
  std::string failure;
  for (;;) {
    while (PQisBusy(m_conn)) {
      if (!waitSocket(false, end) || !PQconsumeInput(m_conn)) {
        fail(PQstatus(m_conn) == CONNECTION_BAD ? oneLine(PQerrorMessage(m_conn))
                                                 : fmt::format("no answer within {} s", kServerCallBound.count()));
        return std::nullopt;
      }
    }
    PGresult* r = PQgetResult(m_conn);
    if (!r) break;
    const ExecStatusType status = PQresultStatus(r);
    if (status == PGRES_TUPLES_OK) {
      for (int row = 0; row < PQntuples(r); ++row) {
        std::vector<std::optional<std::string>> fields;
        for (int col = 0; col < PQnfields(r); ++col)
          fields.push_back(PQgetisnull(r, row, col) ? std::nullopt : std::optional<std::string>(PQgetvalue(r, row, col)));
        result.rows.push_back(std::move(fields));
      }
    } else if (status != PGRES_COMMAND_OK) {
      failure = oneLine(PQresultErrorMessage(r));
    }
    PQclear(r);
  }
  if (!failure.empty()) {
    fail(failure);
    return std::nullopt;
  }
  return result;
}

bool ServerHistory::insert(const PhoneRecord& record) {
  std::vector<std::optional<std::string>> parameters;
  bindRecord(record, [&](int, const RecordValue& value) {
    if (const auto* text = std::get_if<std::string>(&value)) parameters.emplace_back(*text);
    else if (const auto* integer = std::get_if<int64_t>(&value)) parameters.emplace_back(std::to_string(*integer));
    else if (const auto* real = std::get_if<double>(&value)) parameters.emplace_back(fmt::format("{}", *real));
    else parameters.emplace_back(std::nullopt);
  });
  return call(std::string("INSERT INTO hxflash_phones(") + kRecordColumns + ") VALUES(" +
                  recordPlaceholders(serverPlaceholder) + ") ON CONFLICT (id) DO NOTHING",
              parameters)
      .has_value();
}

std::optional<std::vector<PhoneRecord>> ServerHistory::find(const HistoryFilter& filter) {
  const SqlCondition condition = sqlCondition(filter, serverPlaceholder);
  std::vector<std::optional<std::string>> parameters(condition.parameters.begin(), condition.parameters.end());
  const auto result = call(std::string("SELECT ") + kRecordColumns + " FROM hxflash_phones" + condition.where +
                               " ORDER BY ended_ms, received",
                           parameters);
  if (!result) return std::nullopt;
  std::vector<PhoneRecord> records;
  for (const auto& row : result->rows) {
    if (row.size() != kRecordColumnCount) continue;
    PhoneRecord r;
    r.id = row[0].value_or("");
    r.station = row[1].value_or("");
    r.started = row[2].value_or("");
    r.ended = row[3].value_or("");
    parseNumber(row[4], r.endedMs);
    parseNumber(row[5], r.comPort);
    r.device = row[6].value_or("");
    r.package = row[7].value_or("");
    if (uint64_t size = 0; parseNumber(row[8], size)) r.packageSize = size;
    if (uint32_t crc = 0; parseNumber(row[9], crc)) r.packageCrc32 = crc;
    r.outcome = row[10].value_or("");
    r.failedStep = row[11].value_or("");
    parseNumber(row[12], r.code);
    r.reason = row[13].value_or("");
    parseNumber(row[14], r.seconds);
    parseNumber(row[15], r.bytesSent);
    r.logPath = row[16].value_or("");
    if (wantsPackage(filter, r)) records.push_back(std::move(r));
  }
  return records;
}

}  // namespace hxflash
