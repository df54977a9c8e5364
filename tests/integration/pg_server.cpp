#include "pg_server.h"

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <libpq-fe.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

namespace hux::test {

namespace fs = std::filesystem;

namespace {

// The folder of initdb and pg_ctl: $HUX_PG_BINDIR, the newest under
// /usr/lib/postgresql, or the PATH; empty when there is none.
std::string ServerBinDir() {
  auto has = [](const fs::path& dir) {
    std::error_code ignored;
    return fs::exists(dir / "initdb", ignored) && fs::exists(dir / "pg_ctl", ignored);
  };
  if (const char* dir = std::getenv("HUX_PG_BINDIR")) return has(dir) ? dir : "";
  std::error_code ignored;
  int best = -1;
  std::string found;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ignored))
    if (const int version = std::atoi(entry.path().filename().c_str()); version > best && has(entry.path() / "bin"))
      best = version, found = (entry.path() / "bin").string();
  if (!found.empty()) return found;
  std::istringstream path(std::getenv("PATH") ? std::getenv("PATH") : "");
  for (std::string dir; std::getline(path, dir, ':');)
    if (!dir.empty() && has(dir)) return dir;
  return "";
}

// Runs a server program (as postgres when root), output to <dir>/tools.log;
// false with the end of that log and the server's in `why`.
bool RunServerTool(const std::vector<std::string>& args, const std::string& dir, std::string& why) {
  auto quoted = [](const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
  };
  std::string command = geteuid() == 0 ? "runuser -u postgres --" : "";
  for (const std::string& arg : args) command += " " + quoted(arg);
  if (std::system((command + " >>" + quoted(dir + "/tools.log") + " 2>&1 </dev/null").c_str()) == 0) return true;
  why = args[0] + " failed:";
  for (const char* name : {"/tools.log", "/server.log"}) {
    std::stringstream text;
    text << std::ifstream(dir + name).rdbuf();
    why += "\n" + text.str().substr(text.str().size() > 2000 ? text.str().size() - 2000 : 0);
  }
  return false;
}

}  // namespace

bool PgCreateDatabase(const std::string& connection, const std::string& name, std::string& why) {
  // FILE_COPY is fast without WAL archiving (servers before 15 lack the word)
  return PgExecute(connection, "CREATE DATABASE " + name + " STRATEGY FILE_COPY", why) ||
         PgExecute(connection, "CREATE DATABASE " + name, why);
}

bool PgExecute(const std::string& connection, const std::string& sql, std::string& why) {
  PGconn* conn = PQconnectdb(connection.c_str());
  bool ok = PQstatus(conn) == CONNECTION_OK;
  if (ok) {
    PGresult* result = PQexec(conn, sql.c_str());
    ok = PQresultStatus(result) == PGRES_COMMAND_OK || PQresultStatus(result) == PGRES_TUPLES_OK;
    PQclear(result);
  }
  if (!ok) why = sql + ": " + PQerrorMessage(conn);
  PQfinish(conn);
  return ok;
}

std::unique_ptr<PgServer> PgServer::Start(std::string& why, bool& missing) {
  const auto fail = [&](const std::string& reason) { return why = reason, nullptr; };
  missing = true;
  const std::string bin = ServerBinDir();
  struct passwd* postgres = geteuid() == 0 ? getpwnam("postgres") : nullptr;
  if (bin.empty()) return fail("no PostgreSQL server (initdb, pg_ctl) is installed; tools/install-deps.sh installs it");
  if (geteuid() == 0 && !postgres) return fail("the server refuses to run as root and there is no postgres user");
  missing = false;
  // the socket's path must fit in 107 bytes
  std::string base = fs::temp_directory_path().string();
  if (base.size() > 60) base = "/tmp";
  std::string pattern = base + "/hux-pg-XXXXXX";
  if (!mkdtemp(pattern.data())) return fail("cannot make a folder for the server in " + base);
  std::unique_ptr<PgServer> server(new PgServer(pattern));
  const std::string& dir = server->m_dir;
  if (postgres && chown(dir.c_str(), postgres->pw_uid, postgres->pw_gid) != 0)
    return fail("cannot hand " + dir + " to the postgres user");
  chmod(dir.c_str(), 0700);
  // fsync off: tests kill clients, never the server; minimal WAL makes
  // CREATE DATABASE ... FILE_COPY ten times faster.
  const std::vector<std::string> init{bin + "/initdb", "-D", dir + "/data", "-A", "trust", "-U", "postgres",
                                      "--no-sync", "-E", "UTF8", "--locale=C.UTF-8"};
  const std::vector<std::string> start{
      bin + "/pg_ctl", "-D", dir + "/data", "-l", dir + "/server.log", "-w", "-o",
      "-k " + dir + " -c listen_addresses='' -c fsync=off -c wal_level=minimal -c max_wal_senders=0", "start"};
  if (!RunServerTool(init, dir, why) || !RunServerTool(start, dir, why)) return nullptr;
  return server;
}

bool PgServer::Stop(const std::string& dir, std::string& why) {
  std::error_code ignored;
  bool stopped = true;
  if (fs::exists(fs::path(dir) / "data" / "postmaster.pid", ignored)) {
    const std::string bin = ServerBinDir();
    if (bin.empty()) why = "no pg_ctl to stop the server at " + dir;
    stopped = !bin.empty() &&
              RunServerTool({bin + "/pg_ctl", "-D", dir + "/data", "-m", "immediate", "-w", "stop"}, dir, why);
  }
  if (stopped) fs::remove_all(dir, ignored);
  return stopped;
}

PgServer::~PgServer() {
  if (std::string ignored; !m_detached) Stop(m_dir, ignored);
}

std::string PgServer::ConnectionString(const std::string& dbname) const {
  return "host=" + m_dir + " dbname=" + dbname + " user=postgres";
}

}  // namespace hux::test
