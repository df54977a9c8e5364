// The test run's PostgreSQL server, for ctest's fixture steps: `start FILE`
// writes the socket folder (or "none: <why>") to FILE, `stop FILE` stops it.
// A watchdog stops the server once ctest is gone, should the stop step not run.
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <fstream>
#include <string>

#include "pg_server.h"

namespace {

// A process of its own session, holding none of ctest's pipes.
void StartWatchdog(pid_t owner, const std::string& dir) {
  if (fork() != 0) return;
  setsid();
  const int null = open("/dev/null", O_RDWR);
  for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
  for (int fd = 3; fd < 1024; ++fd) close(fd);
  while (kill(owner, 0) == 0 || errno == EPERM) sleep(1);
  std::string why;
  hux::test::PgServer::Stop(dir, why);
  _exit(0);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string command = argc == 3 ? argv[1] : "";
  if (command != "start" && command != "stop") {
    std::fprintf(stderr, "usage: pg_server_tool start|stop FILE\n");
    return 2;
  }
  const std::string file = argv[2];
  std::string why;
  if (command == "start") {
    bool missing = false;
    auto server = hux::test::PgServer::Start(why, missing);
    std::ofstream out(file, std::ios::trunc);
    if (!server) {
      std::fprintf(stderr, "%s\n", why.c_str());
      out << "none: " << why << "\n";
      return missing ? 0 : 1;
    }
    out << server->SocketDir() << "\n";
    out.flush();
    server->Detach();
    StartWatchdog(getppid(), server->SocketDir());
    std::printf("PostgreSQL server listening in %s\n", server->SocketDir().c_str());
    return out ? 0 : 1;
  }
  std::string dir;
  std::getline(std::ifstream(file), dir);
  std::remove(file.c_str());
  if (dir.empty() || dir.rfind("none:", 0) == 0 || hux::test::PgServer::Stop(dir, why)) return 0;
  std::fprintf(stderr, "%s\n", why.c_str());
  return 1;
}
