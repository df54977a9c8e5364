// A private PostgreSQL server for tests and benchmarks: initdb into a new
// temporary folder, listening only on a Unix socket there (run as the
// postgres user when this process is root). Clients connect with
// "host=<SocketDir()> user=postgres".
#pragma once

#include <memory>
#include <string>

namespace hux::test {

// Runs `sql` on a connection of its own; false with the message in `why`.
bool PgExecute(const std::string& connection, const std::string& sql, std::string& why);
bool PgCreateDatabase(const std::string& connection, const std::string& name, std::string& why);

class PgServer {
 public:
  // Null when no server can run, with `why`; `missing` when the server
  // programs are not installed (skip) rather than failed (fail).
  static std::unique_ptr<PgServer> Start(std::string& why, bool& missing);
  // Stops the server at `dir` (perhaps another process's) and removes the folder.
  static bool Stop(const std::string& dir, std::string& why);
  ~PgServer();  // stops the server unless detached
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;
  const std::string& SocketDir() const { return m_dir; }
  std::string ConnectionString(const std::string& dbname) const;
  void Detach() { m_detached = true; }  // leaves the server running

 private:
  explicit PgServer(std::string dir) : m_dir(std::move(dir)) {}

  std::string m_dir;
  bool m_detached = false;
};

}  // namespace hux::test
