// Helpers shared by the test suites: the shared fixture folder, scratch directories,
// whole-file reads and writes.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace fendral::test {

namespace fs = std::filesystem;

// The shared folder with fixtures and peer scripts, or empty when it is absent.
fs::path SharedDir();
// The fixtures folder, or empty when absent.
fs::path FixturesDir();

// Every regular file under the fixtures folder whose extension matches `ext`
// (case-insensitive, with dot), sorted. Empty when the folder is absent.
std::vector<fs::path> FixtureFiles(const std::string& ext);

// Skips the current test (with a message saying why) when the shared folder is absent.
#define REQUIRE_SHARED()                                                          \
  do {                                                                            \
    if (::fendral::test::SharedDir().empty())                                     \
      GTEST_SKIP() << "shared fixtures folder not found; test skipped";           \
  } while (0)

// A fresh directory under the system temporary folder, removed with its contents.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const fs::path& Path() const { return path_; }
  std::string File(const std::string& name) const { return (path_ / name).string(); }

 private:
  fs::path path_;
};

std::vector<uint8_t> ReadBytes(const fs::path& file);
void WriteBytes(const fs::path& file, const std::vector<uint8_t>& bytes);
std::string ReadText(const fs::path& file);
void WriteText(const fs::path& file, const std::string& text);

// Runs a shell command, answering its exit status and (when `output` is given) its
// standard output.
int RunCommand(const std::string& command, std::string* output = nullptr);

// --- The peers' scripts (../shared/peers)
// Writes the peers' generated tables (and their .expected.json) into `dir`: all kinds, or
// only `only`. False when the script failed.
bool MakePeerTables(const TempDir& dir, int seed, int records, const std::string& only = "");
// Exit status of the peers' check of `table` against the expectation `expected` (0: they
// read it as expected). Their report goes to `report` when given, else to standard error
// when they differ.
int PeerCheck(const std::string& expected, const std::string& table,
              std::string* report = nullptr);
// Writes `expected` changed by `edit` (Python lines working on the loaded expectation `e`)
// to `out`; false when Python failed.
bool EditExpected(const std::string& expected, const std::string& out, const std::string& edit);

}  // namespace fendral::test
