#pragma once
// A PostgreSQL server of the test's own: a fresh cluster in a temporary
// folder, listening on 127.0.0.1 only, with password authentication
// (scram-sha-256). initdb and postgres refuse to run as root: as root the
// cluster belongs to the unprivileged user `nobody`.
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "host/child_process.h"

namespace hxtest {

class PgServer {
 public:
  // Makes the cluster and starts the server. When it cannot, why() says so
  // and running() is false.
  PgServer();
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  bool running() const { return m_postgres != nullptr; }
  const std::string& why() const { return m_why; }

  // The address hxflash is given (no password in it).
  std::string address() const;
  // A password file for libpq naming `password` for this server.
  std::string passwordFile(const std::string& password) const;
  static constexpr const char* kUser = "station";
  static constexpr const char* kPassword = "s3cret-Of-The-Centre";

  // Stops the server (a fast shutdown) and starts it again.
  void stop();
  bool start();
  // Freezes the postmaster and its server processes (SIGSTOP), and thaws them.
  void freeze();
  void thaw();

  // Rows of a query, each field as text; nothing when it fails.
  std::optional<std::vector<std::vector<std::string>>> query(const std::string& sql) const;

 private:
  std::vector<std::string> asOwner(std::vector<std::string> argv) const;
  std::vector<int> processes() const;

  std::string m_dir;
  int m_port = 0;
  std::string m_why;
  std::unique_ptr<hxflash::ChildProcess> m_postgres;
};

// Whether a test that needs a server it could not start fails (CI) or is
// skipped as not run.
bool serverRequired();

}  // namespace hxtest
