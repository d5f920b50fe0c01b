// The table handler in natural order: positioned reads with deleted records and filters,
// skips, text search, and the maintenance operations on tables with memo files.
#include <gtest/gtest.h>

#include <filesystem>
#include <span>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_memo.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::ReadBytes;
using fendral::test::TempDir;

struct Row {
  Row(std::string n, int a, bool d = false, std::string memo = "")
      : name(std::move(n)), age(a), deleted(d), note(std::move(memo)) {}
  std::string name;
  int age;
  bool deleted;
  std::string note;  // memo text; empty for none
};

// A FoxPro (or dBase) table NAME C 10, AGE N 3, NOTE M built and filled through the engine.
std::string MakeTable(const TempDir& dir, const std::string& file, const std::vector<Row>& rows,
                      char kind = 'F', uint16_t blockSize = 64) {
  const std::string path = dir.File(file);
  {
    std::unique_ptr<KXO_DBFBuild> builder;
    if (kind == 'F') {
      auto fox = std::make_unique<KXO_DBFoxBuild>(path);
      fox->SetMemoBlockSize(blockSize);
      builder = std::move(fox);
    } else if (kind == '4') {
      builder = std::make_unique<KXO_DB4Build>(path);
    } else {
      builder = std::make_unique<KXO_DBFBuild>(path);
    }
    builder->AddField("NAME", 'C', 10, 0);
    builder->AddField("AGE", 'N', 3, 0);
    builder->AddField("NOTE", 'M', 10, 0);
    builder->WriteTable();
  }
  KXO_dBHandler table(path, true, false);
  for (const Row& r : rows) {
    table.BlankRecord();
    table.PutFieldByName("NAME", r.name);
    table.PutNumberByName("AGE", r.age);
    if (!r.note.empty()) {
      table.WriteMemo(3, std::span<const uint8_t>(
                             reinterpret_cast<const uint8_t*>(r.note.data()), r.note.size()));
    }
    table.AppendRecord();
    if (r.deleted) table.DeleteRecord();
  }
  return path;
}

std::string Name(KXO_dBHandler& t) { return TrimRight(t.GetField(1)); }

std::string Note(KXO_dBHandler& t) {
  std::vector<uint8_t> data;
  t.ReadMemo(3, data);
  return std::string(data.begin(), data.end());
}

std::vector<int32_t> WalkForward(KXO_dBHandler& t) {
  std::vector<int32_t> seen;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) seen.push_back(t.CurrentRecord());
  return seen;
}

std::vector<int32_t> WalkBackward(KXO_dBHandler& t) {
  std::vector<int32_t> seen;
  for (t.GetRecord(PosBottom); !t.Bof() && !t.Eof(); t.GetRecord(PosPrior))
    seen.push_back(t.CurrentRecord());
  return seen;
}

const std::vector<Row> kSix = {{"ANNA", 31},        {"BORIS", 45, true}, {"CLARA", 22, true},
                               {"DMITRI", 58},      {"EVA", 19},         {"FELIX", 40, true}};

TEST(HandlerReads, DeletedRecordsShownAndHidden) {
  TempDir dir;
  KXO_dBHandler t(MakeTable(dir, "t.dbf", kSix), false, false);
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  t.SetShowDeleted(false);
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 4, 5}));
  EXPECT_EQ(WalkBackward(t), (std::vector<int32_t>{5, 4, 1}));
  // A record asked for by number is read even when it is deleted.
  t.GetRecord(2);
  EXPECT_EQ(t.CurrentRecord(), 2);
  EXPECT_TRUE(t.IsDeleted());
}

TEST(HandlerReads, AllDeletedAndEmptyTablesEndAtOnce) {
  TempDir dir;
  KXO_dBHandler all(MakeTable(dir, "all.dbf", {{"A", 1, true}, {"B", 2, true}}), false, false);
  all.SetShowDeleted(false);
  all.GetRecord(PosTop);
  EXPECT_TRUE(all.Eof());
  KXO_dBHandler empty(MakeTable(dir, "empty.dbf", {}), false, false);
  empty.GetRecord(PosTop);
  EXPECT_TRUE(empty.Eof());
  EXPECT_TRUE(empty.Bof());
}

TEST(HandlerReads, SkipJumpsAndClampsAtTheEnds) {
  TempDir dir;
  KXO_dBHandler t(MakeTable(dir, "t.dbf", kSix), false, false);
  t.GetRecord(4);  // third-last
  t.SkipRecords(5);
  EXPECT_EQ(t.CurrentRecord(), 6);
  EXPECT_TRUE(t.Eof());
  t.GetRecord(3);
  t.SkipRecords(-7);
  EXPECT_EQ(t.CurrentRecord(), 1);
  EXPECT_TRUE(t.Bof());
  t.SetShowDeleted(false);
  t.GetRecord(PosTop);
  t.SkipRecords(2);
  EXPECT_EQ(t.CurrentRecord(), 5) << "hidden deleted records are stepped over one by one";
}

class OddOnly : public KXO_dBHandler {
 public:
  using KXO_dBHandler::KXO_dBHandler;
  bool AcceptRecord() override { return CurrentRecord() % 2 == 1; }
};

TEST(HandlerReads, AcceptRecordHookFiltersPositionedReads) {
  TempDir dir;
  OddOnly t(MakeTable(dir, "t.dbf", kSix), false, false);
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 3, 5}));
  EXPECT_EQ(WalkBackward(t), (std::vector<int32_t>{5, 3, 1}));
}

TEST(HandlerFilter, SelectsRecordsAndFollowsWrites) {
  TempDir dir;
  KXO_dBHandler t(MakeTable(dir, "t.dbf", kSix), true, false);
  t.SetFilterExpression("AGE > 30");
  t.SetFilterActive(true);
  ASSERT_TRUE(t.FilterActive());
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 2, 4, 6}));
  EXPECT_EQ(WalkBackward(t), (std::vector<int32_t>{6, 4, 2, 1}));
  t.SetShowDeleted(false);
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 4}));

  // A rewrite moves a record into the filter; an append that fails it stays out.
  t.GetRecord(5);
  t.PutNumberByName("AGE", 77);
  t.PutRecord(5);
  t.BlankRecord();
  t.PutFieldByName("NAME", "YOUNG");
  t.PutNumberByName("AGE", 3);
  t.AppendRecord();
  EXPECT_EQ(WalkForward(t), (std::vector<int32_t>{1, 4, 5}));

  t.SetFilterActive(false);
  EXPECT_EQ(WalkForward(t).size(), 4u);
}

TEST(HandlerFilter, NoMatchGivesBofAndEofAndNonLogicalIsRefused) {
  TempDir dir;
  KXO_dBHandler t(MakeTable(dir, "t.dbf", kSix), false, false);
  t.SetFilterExpression("AGE > 300");
  t.SetFilterActive(true);
  t.GetRecord(PosTop);
  EXPECT_TRUE(t.Eof());
  EXPECT_TRUE(t.Bof());
  try {
    t.SetFilterExpression("AGE + 1");
    FAIL() << "a numeric filter must be refused";
  } catch (const ETolvernError& e) {
    EXPECT_STREQ(e.what(), "Filter expression must return boolean result");
  }
  EXPECT_FALSE(t.FilterActive());
}

TEST(HandlerSearch, OptionsPickTheMatch) {
  TempDir dir;
  const std::vector<Row> rows = {{"Anna", 31, false, "likes tea"},
                                 {"Joanna", 45, false, "TEA and cake"},
                                 {"Anne", 22, false, ""},
                                 {"Hannah", 31, false, "coffee"}};
  KXO_dBHandler t(MakeTable(dir, "t.dbf", rows), false, false);
  auto find = [&](const std::string& text, int32_t field, uint16_t options,
                  int32_t from = 0) -> std::pair<int32_t, int32_t> {
    t.SearchOptions = options;
    int32_t recno = from;
    if (!t.SearchText(text, field, false, 0, recno)) return {0, 0};
    return {recno, field};
  };
  EXPECT_EQ(find("ANNA", 1, 0), std::make_pair(0, 0)) << "case matters by default";
  EXPECT_EQ(find("ANNA", 1, kSearchCaseInsensitive), std::make_pair(1, 1));
  EXPECT_EQ(find("anna", 1, kSearchCaseInsensitive, 1), std::make_pair(2, 1)) << "from record 2";
  EXPECT_EQ(find("Ann", 1, kSearchWholeValue), std::make_pair(0, 0));
  EXPECT_EQ(find("Anne", 1, kSearchWholeValue), std::make_pair(3, 1));
  EXPECT_EQ(find("nn", 1, kSearchAnchored), std::make_pair(0, 0));
  EXPECT_EQ(find("An?e", 1, kSearchWildcards), std::make_pair(3, 1));
  EXPECT_EQ(find("*nah", 1, kSearchWildcards), std::make_pair(4, 1));
  EXPECT_EQ(find("Jo*", 1, kSearchWildcards), std::make_pair(2, 1));
  EXPECT_EQ(find("31", 0, 0, 1), std::make_pair(4, 2)) << "numbers compare by value";
  EXPECT_EQ(find("tea", 3, kSearchCaseInsensitive), std::make_pair(1, 3));
  EXPECT_EQ(find("TEA", 3, 0), std::make_pair(2, 3));
}

TEST(HandlerMaintenance, PackCompactsFoxProMemosWithoutLosingAny) {
  TempDir dir;
  std::vector<Row> rows;
  for (int i = 1; i <= 30; ++i) {
    std::string name = "R";
    name += std::to_string(i);
    Row r{name, i};
    if (i % 3 != 0) r.note = std::string(static_cast<size_t>(i * 13), static_cast<char>('a' + i % 26));
    r.deleted = i == 1 || i % 4 == 0;
    rows.push_back(r);
  }
  const std::string path = MakeTable(dir, "t.dbf", rows);
  // Grow a few memos so that memo order no longer follows record order.
  {
    KXO_dBHandler t(path, true, false);
    for (int r : {2, 5, 7}) {
      t.GetRecord(r);
      std::string bigger(400, static_cast<char>('A' + r));
      t.WriteMemo(3, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(bigger.data()),
                                              bigger.size()));
      t.PutRecord(r);
      rows[static_cast<size_t>(r - 1)].note = bigger;
    }
  }
  const auto memoBefore = fs::file_size(dir.File("t.fpt"));
  KXO_dBHandler t(path, true, false);
  t.Pack();
  std::vector<Row> kept;
  for (const Row& r : rows)
    if (!r.deleted) kept.push_back(r);
  ASSERT_EQ(t.RecordCount(), static_cast<int32_t>(kept.size()));
  for (size_t i = 0; i < kept.size(); ++i) {
    t.GetRecord(static_cast<int32_t>(i + 1));
    EXPECT_EQ(Name(t), kept[i].name);
    EXPECT_EQ(Note(t), kept[i].note) << kept[i].name;
  }
  EXPECT_LT(fs::file_size(dir.File("t.fpt")), memoBefore);
  // A memo written after the pack overwrites none of the kept ones.
  t.GetRecord(1);
  std::string fresh(300, 'z');
  t.WriteMemo(3, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(fresh.data()),
                                          fresh.size()));
  t.PutRecord(1);
  for (size_t i = 1; i < kept.size(); ++i) {
    t.GetRecord(static_cast<int32_t>(i + 1));
    EXPECT_EQ(Note(t), kept[i].note) << kept[i].name;
  }
  const auto bytes = ReadBytes(path);
  EXPECT_EQ(bytes.size(), static_cast<size_t>(t.HeaderLength() + t.RecordCount() * t.RecordLength() + 1));
  EXPECT_EQ(bytes.back(), 0x1A);
}

TEST(HandlerMaintenance, PackOfDbaseFourMemosFreesTheDeletedOnes) {
  TempDir dir;
  const std::string path = MakeTable(
      dir, "t.dbf",
      {{"A", 1, true, std::string(1000, 'a')}, {"B", 2, false, "bee"}, {"C", 3, true, "sea"}}, '4');
  KXO_dBHandler t(path, true, false);
  t.Pack();
  ASSERT_EQ(t.RecordCount(), 1);
  t.GetRecord(1);
  EXPECT_EQ(Note(t), "bee");
  // The freed blocks are used again: a new memo does not grow the file.
  const auto size = fs::file_size(dir.File("t.dbt"));
  t.BlankRecord();
  t.PutFieldByName("NAME", "D");
  std::string text(700, 'd');
  t.WriteMemo(3, std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  t.AppendRecord();
  EXPECT_EQ(fs::file_size(dir.File("t.dbt")), size);
  t.GetRecord(1);
  EXPECT_EQ(Note(t), "bee");
}

TEST(HandlerMaintenance, PackEdgeCases) {
  TempDir dir;
  const std::string none = MakeTable(dir, "none.dbf", {{"A", 1}, {"B", 2}}, '3');
  const auto before = ReadBytes(none);
  {
    KXO_dBHandler t(none, true, false);
    t.Pack();
  }
  EXPECT_EQ(ReadBytes(none).size(), before.size());

  const std::string all = MakeTable(dir, "all.dbf", {{"A", 1, true}, {"B", 2, true}}, '3');
  {
    KXO_dBHandler t(all, true, false);
    t.Pack();
    EXPECT_EQ(t.RecordCount(), 0);
  }
  const auto bytes = ReadBytes(all);
  ByteReader r(bytes.data(), bytes.size());
  EXPECT_EQ(bytes.size(), static_cast<size_t>(r.U16LE(8)) + 1);
  EXPECT_EQ(r.U32LE(4), 0u);

  KXO_dBHandler shared(MakeTable(dir, "s.dbf", {{"A", 1, true}}, '3'), true, true);
  EXPECT_THROW(shared.Pack(), ETolvernError);
  EXPECT_EQ(shared.RecordCount(), 1);
}

TEST(HandlerMaintenance, ZapEmptiesTableAndFoxProMemo) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", {{"A", 1, false, "memo"}, {"B", 2}});
  {
    KXO_dBHandler t(path, true, false);
    t.Zap();
    EXPECT_EQ(t.RecordCount(), 0);
  }
  const auto memo = ReadBytes(dir.File("t.fpt"));
  ASSERT_EQ(memo.size(), 512u);
  EXPECT_EQ(ByteReader(memo.data(), memo.size()).U32BE(0), 8u);
  KXO_dBHandler t(path, false, false);
  EXPECT_EQ(t.RecordCount(), 0);
}

TEST(HandlerMaintenance, CopyTakesTheFilterAndTheMemos) {
  TempDir dir;
  KXO_dBHandler t(MakeTable(dir, "t.dbf",
                            {{"A", 10, false, "one"}, {"B", 50, false, "two"}, {"C", 60, true, "x"}}),
                  false, false);
  t.SetFilterExpression("AGE > 20");
  t.SetFilterActive(true);
  t.CopyTable(dir.File("copy.dbf"));
  KXO_dBHandler c(dir.File("copy.dbf"), false, false);
  ASSERT_EQ(c.RecordCount(), 2);
  c.GetRecord(1);
  EXPECT_EQ(Name(c), "B");
  EXPECT_EQ(Note(c), "two");
  c.GetRecord(2);
  EXPECT_TRUE(c.IsDeleted()) << "a copied deleted record keeps its mark";
  EXPECT_EQ(Note(c), "x");

  t.CopyStructure(dir.File("empty.dbf"));
  KXO_dBHandler e(dir.File("empty.dbf"), false, false);
  EXPECT_EQ(e.RecordCount(), 0);
  EXPECT_EQ(e.FieldCount(), 3);
  EXPECT_EQ(e.Version(), kVersionFoxMemo);
  EXPECT_TRUE(fs::exists(dir.File("empty.fpt")));
}

TEST(HandlerMaintenance, CopiesKeepTheLanguageMark) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", {{"Se\xF1or", 1, false, "memo"}});
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes[29] = 0xC9;
  fendral::test::WriteBytes(path, bytes);
  KXO_dBHandler t(path, false, false);
  ASSERT_EQ(t.CodePageMark(), 0xC9);
  t.CopyTable(dir.File("copy.dbf"));
  t.CopyStructure(dir.File("empty.dbf"));
  for (const char* name : {"copy.dbf", "empty.dbf"}) {
    KXO_dBHandler c(dir.File(name), false, false);
    EXPECT_EQ(c.CodePageMark(), 0xC9) << name;
  }
  KXO_dBHandler c(dir.File("copy.dbf"), false, false);
  c.GetRecord(1);
  EXPECT_EQ(Name(c), "Se\xF1or");
}

TEST(HandlerMaintenance, RenameMovesTableAndMemo) {
  TempDir dir;
  const std::string path = MakeTable(dir, "cust.dbf", {{"A", 1, false, "kept"}}, '3');
  {
    KXO_dBHandler t(path, true, false);
    t.RenameTo("client");
    EXPECT_EQ(t.FileName(), dir.File("client.dbf"));
  }
  EXPECT_FALSE(fs::exists(path));
  ASSERT_TRUE(fs::exists(dir.File("client.dbt")));
  KXO_dBHandler t(dir.File("client.dbf"), false, false);
  t.GetRecord(1);
  EXPECT_EQ(Note(t), "kept");
}

}  // namespace
}  // namespace tolvern
