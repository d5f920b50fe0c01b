// Space of re-created tags through fendral-cli, on the FoxPro table the legacy program
// wrote: re-creating a tag takes the pages of the tag it replaces, and the legacy program
// goes on using the file (and the pages left on its free list) afterwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "cli_test_util.h"
#include "kx6_bytes.h"
#include "test_support.h"

namespace fendral::test {
namespace {

const char* const kFoxTags[] = {"NAME", "AMOUNT", "QTY",    "BORN",   "NMBORN", "CITYU",
                                "AMTD", "NAMED",  "ACTFOR", "ACTIVE", "CITYAM"};

fs::path Legacy(const std::string& program) { return SharedDir() / "peers" / "bin" / program; }

// The fixture's FoxPro table with its production CDX, copied into `dir`.
bool CopyFox(const TempDir& dir) {
  const fs::path from = FixturesDir() / "peer-harbour";
  if (!fs::exists(from / "fox.cdx")) return false;
  for (const char* ext : {".dbf", ".cdx", ".fpt"})
    fs::copy_file(from / (std::string("fox") + ext), dir.Path() / (std::string("fox") + ext));
  return true;
}

uint32_t FreeListHead(const std::string& cdx) {
  const std::vector<uint8_t> bytes = ReadBytes(cdx);
  return tolvern::ByteReader(bytes.data(), bytes.size()).U32LE(4);
}

// hb-verify --check of `tag`; empty when it passes, else its report.
std::string LegacyCheck(const TempDir& dir, const std::string& tag) {
  std::string out;
  const int status =
      RunCommand(Quote(Legacy("hb-verify").string()) + " " + Quote(dir.File("fox.dbf")) + " " +
                     Quote(dir.File("fox.cdx")) + " " + tag + " --check 2>&1",
                 &out);
  return status == 0 && out.find("check: ok") != std::string::npos ? std::string()
                                                                   : tag + ": " + out;
}

void ExpectEveryTagPassesTheLegacyCheck(const TempDir& dir, const std::vector<std::string>& more) {
  std::vector<std::string> tags(std::begin(kFoxTags), std::end(kFoxTags));
  tags.insert(tags.end(), more.begin(), more.end());
  for (const std::string& tag : tags) EXPECT_EQ(LegacyCheck(dir, tag), "");
}

#define REQUIRE_LEGACY()                                                      \
  do {                                                                        \
    REQUIRE_SHARED();                                                         \
    if (!fs::exists(Legacy("hb-legacy")) || !fs::exists(Legacy("hb-verify"))) \
      GTEST_SKIP() << "the legacy program is not there";                      \
  } while (0)

TEST(CliIndexSpace, TenReCreationsOfATagGrowTheFileByOneTagAtMost) {
  REQUIRE_LEGACY();
  TempDir dir;
  ASSERT_TRUE(CopyFox(dir));
  const std::string cdx = dir.File("fox.cdx");
  const auto before = fs::file_size(cdx);
  const std::string args =
      Quote(dir.File("fox.dbf")) + " " + Quote(cdx) + " --tag CITYX --key CITY";
  std::string err;
  ASSERT_EQ(RunCli("index " + args, nullptr, &err), 0) << err;
  const auto first = fs::file_size(cdx);
  for (int i = 1; i < 10; ++i) ASSERT_EQ(RunCli("index " + args, nullptr, &err), 0) << err;
  const auto last = fs::file_size(cdx);
  // The first creation's growth is one tag's size.
  ASSERT_GE(first, before);
  EXPECT_LE(last, first + (first - before)) << before << " " << first;
  ExpectEveryTagPassesTheLegacyCheck(dir, {"CITYX"});

  // The legacy program appends under its own locks and still finds every order sound.
  std::string out;
  ASSERT_EQ(RunCommand(Quote(Legacy("hb-legacy").string()) + " append " +
                           Quote(dir.File("fox.dbf")) + " DBFCDX 300 Space 2>&1",
                       &out),
            0)
      << out;
  ExpectEveryTagPassesTheLegacyCheck(dir, {"CITYX"});
  ASSERT_EQ(
      RunCli("keys " + Quote(dir.File("fox.dbf")) + " " + Quote(cdx) + " --tag CITYX", &out, &err),
      0)
      << err;
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 500);
  // Perl XBase reads the tag in the pages it took over, as this program does.
  std::string theirs;
  ASSERT_EQ(RunCommand("perl " + Quote((SharedDir() / "peers" / "dump_table.pl").string()) +
                           " --index " + Quote(cdx) + " --tag CITYX " + Quote(dir.File("fox.dbf")),
                       &theirs),
            0);
  EXPECT_EQ(std::count(theirs.begin(), theirs.end(), '\n'), 500);
}

TEST(CliIndexSpace, TheLegacyProgramTakesThePagesAReplacedTagGaveBack) {
  REQUIRE_LEGACY();
  TempDir dir;
  ASSERT_TRUE(CopyFox(dir));
  const std::string cdx = dir.File("fox.cdx");
  const std::string table = Quote(dir.File("fox.dbf")) + " " + Quote(cdx);
  std::string err;
  // A wide tag, then the same name over a few keys: most of its pages go onto the list.
  ASSERT_EQ(RunCli("index " + table + " --tag WIDE --key 'NAME+CITY+NAME+CITY'", nullptr, &err), 0)
      << err;
  const auto wide = fs::file_size(cdx);
  ASSERT_EQ(RunCli("index " + table + " --tag WIDE --key CITY --for 'ID < 5'", nullptr, &err), 0)
      << err;
  EXPECT_EQ(fs::file_size(cdx), wide);
  const uint32_t head = FreeListHead(cdx);
  ASSERT_NE(head, 0u);
  ExpectEveryTagPassesTheLegacyCheck(dir, {"WIDE"});

  std::string out;
  ASSERT_EQ(RunCommand(Quote(Legacy("hb-legacy").string()) + " append " +
                           Quote(dir.File("fox.dbf")) + " DBFCDX 400 Reuse 2>&1",
                       &out),
            0)
      << out;
  // Its page splits took pages from the list before growing the file.
  EXPECT_NE(FreeListHead(cdx), head);
  ExpectEveryTagPassesTheLegacyCheck(dir, {"WIDE"});
  for (const char* tag : {"NAME", "CITYAM", "WIDE"}) {
    ASSERT_EQ(RunCli("keys " + table + " --tag " + tag, &out, &err), 0) << tag << ": " << err;
  }

  // And ours take what is left after the legacy program's.
  ASSERT_EQ(RunCli("index " + table + " --tag WIDE --key 'NAME+CITY'", nullptr, &err), 0) << err;
  ExpectEveryTagPassesTheLegacyCheck(dir, {"WIDE"});
}

}  // namespace
}  // namespace fendral::test
