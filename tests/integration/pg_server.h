// A private PostgreSQL server for the tests and benchmarks: initdb into a
// new temporary folder, then pg_ctl start listening only on a Unix socket in
// that folder (no TCP port). The server refuses to run as root, so a root
// process runs it as the "postgres" system user the server package creates.
// Clients connect with "host=<SocketDir()> user=postgres".
#pragma once

#include <memory>
#include <string>

namespace hux::test {

// Runs `sql` (one or more statements) on a connection of its own to the
// database `connection` names. False with the server's message in `why`.
bool PgExecute(const std::string& connection, const std::string& sql, std::string& why);

// Creates database `name` (a plain identifier) through `connection`.
bool PgCreateDatabase(const std::string& connection, const std::string& name, std::string& why);

class PgServer {
 public:
  // Starts a server. Null when none can run here, with `why` saying so:
  // `missing` is set when the server programs are not installed (a reason
  // to skip), cleared when they are there and failed (a reason to fail).
  static std::unique_ptr<PgServer> Start(std::string& why, bool& missing);
  // Stops the server at `dir` (a SocketDir() of an earlier Start, perhaps in
  // another process) and removes the folder. False with `why` on failure.
  static bool Stop(const std::string& dir, std::string& why);

  // Stops the server and removes its folder, unless Detach was called.
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

  const std::string& SocketDir() const { return m_dir; }
  // The libpq connection string of database `dbname`.
  std::string ConnectionString(const std::string& dbname) const;
  // Leaves the server running after this object is gone.
  void Detach() { m_detached = true; }

 private:
  explicit PgServer(std::string dir) : m_dir(std::move(dir)) {}

  std::string m_dir;
  bool m_detached = false;
};

}  // namespace hux::test
