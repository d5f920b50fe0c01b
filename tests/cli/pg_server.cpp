#include "pg_server.h"

#include <gtest/gtest.h>
#include <pwd.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

#include "cli_test_util.h"

namespace fendral::test {

namespace {

bool IsServerBin(const fs::path& dir) {
  return !dir.empty() && fs::exists(dir / "initdb") && fs::exists(dir / "pg_ctl") &&
         fs::exists(dir / "psql");
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text;
}

// The folder of initdb and pg_ctl: the one pg_config names, else the newest of Debian's
// /usr/lib/postgresql/VERSION/bin.
std::string FindServerBin() {
  std::string out;
  if (RunCommand("pg_config --bindir 2>/dev/null", &out) == 0 && IsServerBin(Trimmed(out)))
    return Trimmed(out);
  std::vector<std::pair<int, fs::path>> found;
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator("/usr/lib/postgresql", ec)) {
    const std::string version = entry.path().filename().string();
    if (IsServerBin(entry.path() / "bin") && !version.empty() &&
        std::all_of(version.begin(), version.end(), ::isdigit))
      found.emplace_back(std::stoi(version), entry.path() / "bin");
  }
  if (found.empty()) return "";
  return std::max_element(found.begin(), found.end())->second.string();
}

std::string PercentEncoded(const std::string& text) {
  std::string out;
  for (unsigned char c : text) {
    if (std::isalnum(c) || c == '-' || c == '_' || c == '.') {
      out += static_cast<char>(c);
    } else {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%%%02X", c);
      out += buf;
    }
  }
  return out;
}

std::unique_ptr<PgServer>& Slot() {
  static std::unique_ptr<PgServer> server;
  return server;
}

// Stops the server once every test has run, whatever their results.
class PgServerEnvironment : public ::testing::Environment {
 public:
  void TearDown() override {
    if (Slot()) Slot()->Stop();
  }
};

[[maybe_unused]] ::testing::Environment* const kEnvironment =
    ::testing::AddGlobalTestEnvironment(new PgServerEnvironment);

}  // namespace

PgServer& PgServer::Instance() {
  if (!Slot()) Slot().reset(new PgServer());
  return *Slot();
}

PgServer::PgServer() { Start(); }

PgServer::~PgServer() { Stop(); }

int PgServer::AsServerUser(const std::string& command, std::string* out) const {
  const std::string inFolder = "cd " + Quote(folder_) + " && " + command;
  if (!asPostgres_) return RunCommand("sh -c " + Quote(inFolder) + " 2>&1", out);
  if (RunCommand("command -v runuser >/dev/null 2>&1") == 0)
    return RunCommand("runuser -u postgres -- sh -c " + Quote(inFolder) + " 2>&1", out);
  return RunCommand("su -s /bin/sh postgres -c " + Quote(inFolder) + " 2>&1", out);
}

void PgServer::Start() {
  bin_ = FindServerBin();
  if (bin_.empty()) {
    error_ =
        "no PostgreSQL server found (pg_config --bindir, /usr/lib/postgresql/*/bin); "
        "scripts/install-deps installs it";
    return;
  }
  char name[] = "/tmp/fendral-pg-XXXXXX";
  if (!mkdtemp(name)) {
    error_ = "cannot make a temporary folder";
    return;
  }
  folder_ = name;
  if (geteuid() == 0) {
    // The server refuses to run as root: it runs as the user Debian's package made.
    const passwd* user = getpwnam("postgres");
    if (!user || chown(folder_.c_str(), user->pw_uid, user->pw_gid) != 0) {
      error_ = "running as root, but there is no postgres user to run the server";
      return;
    }
    asPostgres_ = true;
  }
  std::string out;
  if (AsServerUser(
          Quote(bin_ + "/initdb") + " -D data -U postgres -A trust -E UTF8 --no-locale --no-sync",
          &out) != 0) {
    error_ = "initdb failed: " + out;
    return;
  }
  const std::string options = "-c listen_addresses='' -c unix_socket_directories='" + folder_ +
                              "' -c fsync=off -c full_page_writes=off";
  if (AsServerUser(Quote(bin_ + "/pg_ctl") + " -D data -l server.log -w -t 60 -o " +
                       Quote(options) + " start",
                   &out) != 0) {
    running_ = true;  // stop whatever may have come up
    error_ = "pg_ctl start failed: " + out + ReadText(fs::path(folder_) / "server.log");
    return;
  }
  running_ = started_ = true;
}

void PgServer::Stop() {
  if (running_) {
    std::string out;
    AsServerUser(Quote(bin_ + "/pg_ctl") + " -D data -m immediate -w stop", &out);
    running_ = false;
  }
  started_ = false;
  if (!folder_.empty()) {
    std::error_code ec;
    fs::remove_all(folder_, ec);
    folder_.clear();
  }
}

std::string PgServer::ConnInfo(const std::string& database) const {
  return "host=" + folder_ + " user=postgres dbname=" + database;
}

std::string PgServer::Url(const std::string& database) const {
  return "postgresql://postgres@/" + database + "?host=" + PercentEncoded(folder_);
}

bool PgServer::CreateDatabase(const std::string& name, std::string* error) {
  std::string out;
  const int status = RunCommand(
      Quote(bin_ + "/createdb") + " -h " + Quote(folder_) + " -U postgres " + Quote(name) + " 2>&1",
      &out);
  if (error) *error = out;
  return status == 0;
}

int PgServer::Psql(const std::string& database, const std::string& args, std::string* out) const {
  return RunCommand(Quote(bin_ + "/psql") + " -X -q -v ON_ERROR_STOP=1 -h " + Quote(folder_) +
                        " -U postgres -d " + Quote(database) + " " + args + " 2>&1",
                    out);
}

}  // namespace fendral::test
