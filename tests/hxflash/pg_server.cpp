#include "pg_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <libpq-fe.h>
#include <netinet/in.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

namespace hxtest {
namespace {

const std::string kBin = "/usr/lib/postgresql/15/bin";
constexpr auto kStartPatience = std::chrono::seconds(60);

// A port on 127.0.0.1 that nothing listens on now.
int freePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  int port = 0;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size) == 0)
    port = ntohs(a.sin_port);
  ::close(fd);
  return port;
}

std::string readAll(const std::string& path) {
  std::ifstream in(path);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace

bool serverRequired() {
  const char* ci = std::getenv("CI");
  return ci && std::string(ci) == "true";
}

std::vector<std::string> PgServer::asOwner(std::vector<std::string> argv) const {
  if (::geteuid() != 0) return argv;
  std::vector<std::string> wrapped = {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups"};
  wrapped.insert(wrapped.end(), argv.begin(), argv.end());
  return wrapped;
}

PgServer::PgServer() {
  if (::access((kBin + "/initdb").c_str(), X_OK) != 0) {
    m_why = "no PostgreSQL 15 in " + kBin + " (scripts/install-deps.sh installs it)";
    return;
  }
  char templ[] = "/tmp/hxflash-pg-XXXXXX";
  if (!::mkdtemp(templ)) {
    m_why = "no temporary folder";
    return;
  }
  m_dir = templ;
  const std::string pwfile = m_dir + "/superuser-password";
  std::ofstream(pwfile) << kPassword << "\n";
  if (::geteuid() == 0) {
    const passwd* nobody = ::getpwnam("nobody");
    if (!nobody) {
      m_why = "no user nobody to run the server as";
      return;
    }
    for (const std::string& path : {m_dir, pwfile})
      if (::chown(path.c_str(), nobody->pw_uid, nobody->pw_gid) != 0) m_why = "cannot give " + path + " to nobody";
    if (!m_why.empty()) return;
  }
  ::chmod(m_dir.c_str(), 0700);
  hxflash::ChildProcess initdb(asOwner({kBin + "/initdb", "-D", m_dir + "/data", "-U", kUser, "--pwfile=" + pwfile,
                                        "--auth=scram-sha-256", "-E", "UTF8", "--no-sync"}),
                               m_dir + "/initdb.log", m_dir + "/initdb.log");
  const auto status = initdb.waitFor(std::chrono::seconds(120));
  if (!status || *status != 0) {
    m_why = "initdb failed: " + readAll(m_dir + "/initdb.log");
    return;
  }
  m_port = freePort();
  if (!start()) m_why = "postgres did not start: " + readAll(m_dir + "/postgres.log");
}

PgServer::~PgServer() {
  if (m_postgres) {
    thaw();
    m_postgres->signal(SIGINT);
    m_postgres->waitFor(std::chrono::seconds(30));
  }
  std::error_code ec;
  if (!m_dir.empty()) std::filesystem::remove_all(m_dir, ec);
}

bool PgServer::start() {
  m_postgres = std::make_unique<hxflash::ChildProcess>(
      asOwner({kBin + "/postgres", "-D", m_dir + "/data", "-p", std::to_string(m_port), "-k", m_dir, "-c",
               "listen_addresses=127.0.0.1", "-c", "fsync=off"}),
      m_dir + "/postgres.log", m_dir + "/postgres.log");
  const std::string ping = "host=127.0.0.1 port=" + std::to_string(m_port) + " dbname=postgres connect_timeout=2";
  const auto end = std::chrono::steady_clock::now() + kStartPatience;
  while (std::chrono::steady_clock::now() < end) {
    if (PQping(ping.c_str()) == PQPING_OK) return true;
    if (m_postgres->waitFor(std::chrono::milliseconds(0))) break;  // it ended
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  m_postgres.reset();
  return false;
}

void PgServer::stop() {
  if (!m_postgres) return;
  m_postgres->signal(SIGINT);  // fast shutdown: open connections are cut
  m_postgres->waitFor(std::chrono::seconds(60));
  m_postgres.reset();
}

std::vector<int> PgServer::processes() const {
  std::vector<int> pids;
  if (!m_postgres) return pids;
  pids.push_back(m_postgres->pid());
  for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
    const std::string stat = readAll(entry.path().string() + "/stat");
    const size_t close = stat.rfind(')');
    if (close == std::string::npos) continue;
    std::istringstream fields(stat.substr(close + 2));
    char state = 0;
    int parent = 0;
    fields >> state >> parent;
    if (parent == m_postgres->pid()) pids.push_back(std::atoi(entry.path().filename().c_str()));
  }
  return pids;
}

void PgServer::freeze() {
  for (int pid : processes()) ::kill(pid, SIGSTOP);
}

void PgServer::thaw() {
  for (int pid : processes()) ::kill(pid, SIGCONT);
}

std::string PgServer::address() const {
  return "postgresql://" + std::string(kUser) + "@127.0.0.1:" + std::to_string(m_port) + "/postgres";
}

std::string PgServer::passwordFile(const std::string& password) const {
  const std::string path = m_dir + "/pgpass-" + std::to_string(std::hash<std::string>()(password));
  std::ofstream(path) << "127.0.0.1:" << m_port << ":*:" << kUser << ":" << password << "\n";
  ::chmod(path.c_str(), 0600);
  return path;
}

std::optional<std::vector<std::vector<std::string>>> PgServer::query(const std::string& sql) const {
  const std::string info = "host=127.0.0.1 port=" + std::to_string(m_port) + " dbname=postgres user=" + kUser +
                           " password=" + kPassword + " connect_timeout=10";
  PGconn* conn = PQconnectdb(info.c_str());
  std::optional<std::vector<std::vector<std::string>>> rows;
  if (PQstatus(conn) == CONNECTION_OK) {
    PGresult* r = PQexec(conn, sql.c_str());
    if (PQresultStatus(r) == PGRES_TUPLES_OK) {
      rows.emplace();
      for (int i = 0; i < PQntuples(r); ++i) {
        std::vector<std::string> row;
        for (int j = 0; j < PQnfields(r); ++j) row.emplace_back(PQgetvalue(r, i, j));
        rows->push_back(std::move(row));
      }
    }
    PQclear(r);
  }
  PQfinish(conn);
  return rows;
}

}  // namespace hxtest
