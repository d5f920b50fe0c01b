// An empty memo (a field that points to a memo of length 0) is a memo: copies, packs and
// rebuilds keep it apart from a field that points to no memo, in every memo format.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_rebuild.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

std::span<const uint8_t> Bytes(const std::string& text) {
  return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// NAME and NOTE: a deleted record with a memo, an empty memo, no memo, a memo with text.
void MakeTable(const std::string& path, std::unique_ptr<KXO_DBFBuild> builder) {
  builder->AddField("NAME", 'C', 6, 0);
  builder->AddField("NOTE", 'M', 10, 0);
  builder->WriteTable();
  builder.reset();
  KXO_dBaseFld t(path, true, false);
  const int note = t.FieldNumber("NOTE");
  auto add = [&](const std::string& name, const std::string* memo, bool deleted = false) {
    t.BlankRecord();
    t.PutFieldByName("NAME", name);
    if (memo) {
      // An empty memo takes a block when it replaces one that had text.
      ASSERT_TRUE(t.WriteMemo(note, Bytes("x")));
      ASSERT_TRUE(t.WriteMemo(note, Bytes(*memo)));
    }
    t.AppendRecord();
    if (deleted) t.DeleteRecord();
  };
  const std::string old = "old text", empty, full = "some text";
  add("gone", &old, true);
  add("empty", &empty);
  add("none", nullptr);
  add("full", &full);
}

// Each record as NAME=memo text, or NAME=- when the field points to no memo.
std::vector<std::string> Memos(const std::string& path) {
  KXO_dBaseFld t(path, false, false);
  std::vector<std::string> out;
  const int note = t.FieldNumber("NOTE");
  for (int32_t r = 1; r <= t.RecordCount(); ++r) {
    t.GetRecord(r);
    std::string line = Trim(t.GetFieldByName("NAME")) + "=";
    if (Trim(t.GetField(note)).empty()) {
      line += "-";
    } else {
      std::vector<uint8_t> data;
      EXPECT_TRUE(t.ReadMemo(note, data));
      line += '"';
      line.append(data.begin(), data.end());
      line += '"';
    }
    out.push_back(line);
  }
  return out;
}

TEST(EmptyMemo, StaysAnEmptyMemoThroughCopyPackAndRebuild) {
  const std::vector<std::string> all = {"gone=\"old text\"", "empty=\"\"", "none=-",
                                        "full=\"some text\""};
  const std::vector<std::string> kept(all.begin() + 1, all.end());
  for (const char* kind : {"dbase3", "dbase4", "foxpro"}) {
    SCOPED_TRACE(kind);
    TempDir dir;
    const std::string table = dir.File("t.dbf");
    const std::string k = kind;
    std::unique_ptr<KXO_DBFBuild> builder;
    if (k == "dbase3") {
      builder = std::make_unique<KXO_DBFBuild>(table);
    } else if (k == "dbase4") {
      builder = std::make_unique<KXO_DB4Build>(table);
    } else {
      builder = std::make_unique<KXO_DBFoxBuild>(table);
    }
    MakeTable(table, std::move(builder));
    ASSERT_EQ(Memos(table), all);
    {
      KXO_dBHandler t(table, false, false);
      t.CopyTable(dir.File("copy.dbf"));
    }
    EXPECT_EQ(Memos(dir.File("copy.dbf")), all);
    {
      KXO_dBHandler t(table, true, false);
      t.Pack();
    }
    EXPECT_EQ(Memos(table), kept);
    {
      KXO_dBHandler t(table, true, false);
      RebuildTable(t, SameFieldsPlan(t));
    }
    EXPECT_EQ(Memos(table), kept);
  }
}

}  // namespace
}  // namespace tolvern
