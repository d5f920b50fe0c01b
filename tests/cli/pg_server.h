// A throwaway PostgreSQL server for the tests: its own cluster in a temporary folder,
// reachable only through a socket in that folder, stopped and removed when the tests end
// (also when they fail). Run as root, it runs as the `postgres` user.
#pragma once

#include <string>

namespace fendral::test {

class PgServer {
 public:
  // The one server of this test process, started on first use. Started() says whether
  // that worked; Error() says why not.
  static PgServer& Instance();

  bool Started() const { return started_; }
  const std::string& Error() const { return error_; }
  // A key=value connection string for `database`.
  std::string ConnInfo(const std::string& database) const;
  // A postgresql:// URL for `database`.
  std::string Url(const std::string& database) const;
  // Creates an empty database; false (with the reason in `error`) when it failed.
  bool CreateDatabase(const std::string& name, std::string* error);
  // Runs the server's psql on `database` with `args` (already quoted); its output in
  // `out`, its errors appended.
  int Psql(const std::string& database, const std::string& args, std::string* out) const;

  // Stops the server and removes its folder.
  void Stop();
  ~PgServer();
  PgServer(const PgServer&) = delete;
  PgServer& operator=(const PgServer&) = delete;

 private:
  PgServer();
  void Start();
  // `command` run by the user the server runs as, in its folder.
  int AsServerUser(const std::string& command, std::string* out) const;

  std::string bin_;
  std::string folder_;
  bool asPostgres_ = false;
  bool started_ = false;
  bool running_ = false;
  std::string error_;
};

}  // namespace fendral::test
