// Deleting an index file: the file goes, and the table's production-index flag with it
// when the file was the production index.
#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_idxfile.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::TempDir;
namespace fs = std::filesystem;

std::string MakeTable(const TempDir& dir, const std::string& file, bool fox) {
  const std::string path = dir.File(file);
  std::unique_ptr<KXO_DBFBuild> builder;
  if (fox)
    builder = std::make_unique<KXO_DBFoxBuild>(path);
  else
    builder = std::make_unique<KXO_DB4Build>(path);
  builder->AddField("NAME", 'C', 12, 0);
  builder->AddField("AMOUNT", 'N', 8, 2);
  builder->WriteTable();
  builder.reset();
  KXO_dBHandler t(path, true, false);
  for (int i = 0; i < 5; ++i) {
    t.BlankRecord();
    std::string name = "N";
    name += std::to_string(5 - i);
    t.PutFieldByName("NAME", name);
    t.PutNumberByName("AMOUNT", i * 1.5);
    t.AppendRecord();
  }
  return path;
}

uint8_t HeaderFlags(const std::string& table) { return ReadBytes(table).at(28); }

TEST(IndexFileDelete, ProductionIndexClearsTheFlagOnDiskOtherFilesKeepIt) {
  for (const char* ext : {".cdx", ".mdx"}) {
    SCOPED_TRACE(ext);
    TempDir dir;
    const std::string path = MakeTable(dir, "t.dbf", std::string(ext) == ".cdx");
    const std::string production = dir.File(std::string("t") + ext);
    const std::string other = dir.File("t.ndx");
    {
      KXO_dBHandler t(path, true, false);
      t.IndexOn(production, "NAME", 0, true, "", "NAME");
      t.IndexOn(other, "AMOUNT", 0, true, "", "AMOUNT");
    }
    ASSERT_EQ(HeaderFlags(path) & 1, 1) << "building the production index sets the flag";
    KXO_dBHandler t(path, true, false);
    ASSERT_EQ(t.OpenIndexFile(other), 0);
    // An index named like the table that is not a production index leaves the flag.
    DeleteIndexFile(t, other);
    EXPECT_FALSE(fs::exists(other));
    EXPECT_TRUE(t.ProductionIndexFlag());
    EXPECT_EQ(HeaderFlags(path) & 1, 1);

    DeleteIndexFile(t, production);
    EXPECT_FALSE(fs::exists(production));
    EXPECT_FALSE(t.ProductionIndexFlag());
    EXPECT_EQ(HeaderFlags(path) & 1, 0) << "the header on disk no longer names an index";
    EXPECT_EQ(t.IndexFileCount(), 0);
  }
}

TEST(IndexFileDelete, ProductionIndexOfAnotherTableOrDirectoryLeavesTheFlag) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", true);
  fs::create_directory(dir.Path() / "sub");
  const std::string elsewhere = (dir.Path() / "sub" / "T.CDX").string();
  const std::string otherName = dir.File("u.cdx");
  {
    KXO_dBHandler t(path, true, false);
    t.IndexOn(dir.File("t.cdx"), "NAME", 0, true, "", "NAME");
    t.IndexOn(elsewhere, "NAME", 0, true, "", "NAME");
    t.IndexOn(otherName, "NAME", 0, true, "", "NAME");
  }
  KXO_dBHandler t(path, true, false);
  EXPECT_FALSE(IsProductionIndexOf(path, elsewhere));
  EXPECT_FALSE(IsProductionIndexOf(path, otherName));
  EXPECT_TRUE(IsProductionIndexOf(path, dir.File("T.CDX")));
  DeleteIndexFile(t, elsewhere);
  DeleteIndexFile(t, otherName);
  EXPECT_TRUE(t.ProductionIndexFlag());
  EXPECT_EQ(HeaderFlags(path) & 1, 1);
}

TEST(IndexFileDelete, AMissingFileIsTheEnginesErrorAndChangesNothing) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", true);
  {
    KXO_dBHandler t(path, true, false);
    t.IndexOn(dir.File("t.cdx"), "NAME", 0, true, "", "NAME");
  }
  KXO_dBHandler t(path, true, false);
  fs::remove(dir.File("t.cdx"));
  EXPECT_THROW(DeleteIndexFile(t, dir.File("t.cdx")), ETolvernError);
  EXPECT_EQ(HeaderFlags(path) & 1, 1);
}

}  // namespace
}  // namespace tolvern
