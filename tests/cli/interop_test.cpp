// Interop: tables written by other programs dump as those programs read them, and tables
// written through create + import read back in other programs with the same values.
#include <gtest/gtest.h>

#include "cli_test_util.h"

namespace fendral::test {
namespace {

void ExpectCheckPasses(const std::string& mode) {
  REQUIRE_SHARED();
  TempDir work;
  std::string report;
  const int status = RunDumpCheck(mode, work.Path().string(), &report);
  EXPECT_EQ(status, 0) << report;
  EXPECT_NE(report.find(", 0 differences"), std::string::npos) << report;
}

TEST(CliInterop, HarbourTablesDumpAsTheirListings) { ExpectCheckPasses("harbour"); }

TEST(CliInterop, PeerWrittenTablesDumpToTheirExpectedValues) { ExpectCheckPasses("peers"); }

TEST(CliInterop, CreatedAndImportedTablesReadBackInPerlXBaseAndDbfread) {
  ExpectCheckPasses("write");
}

TEST(CliInterop, EveryFixtureTableRoundTripsThroughDumpAndImport) {
  ExpectCheckPasses("roundtrip");
}

}  // namespace
}  // namespace fendral::test
