#include <gtest/gtest.h>

#include <string>

#include "test_support.h"

namespace {

using fendral::test::RunCommand;

std::string Quote(const std::string& s) { return "'" + s + "'"; }

// Every DBF fixture: the header facts agree with an independent header reader, and a
// table the engine refuses is one whose header cannot describe its records.
TEST(CliInfo, AgreesWithIndependentReaderOnEveryFixture) {
  REQUIRE_SHARED();
  std::string output;
  const int status = RunCommand("python3 " + Quote(std::string(FENDRAL_CLI_TESTS_DIR) +
                                                   "/check_info.py") +
                                    " " + Quote(FENDRAL_CLI) + " " +
                                    Quote(fendral::test::SharedDir().string()) + " 2>&1",
                                &output);
  EXPECT_EQ(status, 0) << output;
  EXPECT_NE(output.find(" 0 disagreements"), std::string::npos) << output;
}

TEST(CliInfo, ReportsEngineErrorsOnOneLineWithExitCode1) {
  fendral::test::TempDir dir;
  fendral::test::WriteBytes(dir.Path() / "bad.dbf", std::vector<uint8_t>(40, 0x01));
  std::string output;
  const int status =
      RunCommand(Quote(FENDRAL_CLI) + " info " + Quote(dir.File("bad.dbf")) + " 2>&1", &output);
  EXPECT_EQ(status, 1);
  EXPECT_EQ(output, "dBase DBF file header invalid - " + dir.File("bad.dbf") + "\n");

  const int missing =
      RunCommand(Quote(FENDRAL_CLI) + " info " + Quote(dir.File("none.dbf")) + " 2>&1", &output);
  EXPECT_EQ(missing, 1);
  EXPECT_EQ(output, "File not found - " + dir.File("none.dbf") + "\n");
}

}  // namespace
