// Running fendral-cli and the comparison scripts from the tests.
#pragma once

#include <string>

#include "test_support.h"

namespace fendral::test {

inline std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  return out + "'";
}

// Runs fendral-cli with `args` (already quoted); stdout into `out`, stderr into `err`.
inline int RunCli(const std::string& args, std::string* out = nullptr,
                  std::string* err = nullptr) {
  TempDir scratch;
  const std::string errFile = scratch.File("stderr");
  const int status =
      RunCommand(Quote(FENDRAL_CLI) + " " + args + " 2>" + Quote(errFile), out);
  if (err) *err = ReadText(errFile);
  return status;
}

// Runs a mode of check_dump.py; answers its exit status, output in `report`.
inline int RunDumpCheck(const std::string& mode, const std::string& work, std::string* report) {
  return RunCommand("python3 " + Quote(std::string(FENDRAL_CLI_TESTS_DIR) + "/check_dump.py") +
                        " " + mode + " " + Quote(FENDRAL_CLI) + " " +
                        Quote(SharedDir().string()) + " " + Quote(work) + " 2>&1",
                    report);
}

}  // namespace fendral::test
