// Rebuilding a table under a new field list or code page: every record in its own field,
// deleted marks, digits and memos kept, the table's version and mark, misfits found before
// anything changes, index files rebuilt with broken tags dropped. Peer tables written by
// other programs are checked afterwards by their independent readers.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_cpage.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_journal.h"
#include "kx6_memo.h"
#include "kx6_rebuild.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::MakePeerTables;
using fendral::test::PeerCheck;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
namespace fs = std::filesystem;

// `expected` with every record given field `name` = `value` (and the code page `codepage`
// when not empty), written to `out`.
void DeriveExpected(const std::string& expected, const std::string& out, const std::string& name,
                    const std::string& value, const std::string& codepage = "") {
  std::string edit;
  if (!name.empty()) edit += "for r in e['records']: r['fields']['" + name + "']='" + value + "'\n";
  if (!codepage.empty()) edit += "e['codepage']='" + codepage + "'\n";
  ASSERT_TRUE(fendral::test::EditExpected(expected, out, edit));
}

std::string Field(KXO_dBaseFld& t, const std::string& name) { return t.GetFieldByName(name); }

bool LeftoversGone(const std::string& table) {
  const std::string dir = fs::path(table).parent_path().string();
  return !fs::exists(ReplaceJournalPath(table)) && !fs::exists(ReplaceStagingDirectory(dir, table));
}

// A small FoxPro table with raw field texts.
void MakeTable(const std::string& path, const std::vector<TkxRebuildField>& fields,
               const std::vector<std::vector<std::string>>& rows,
               const std::vector<bool>& deleted = {}) {
  {
    KXO_DBFoxBuild b(path);
    for (const auto& f : fields) ASSERT_GE(b.AddField(f.name, f.type, f.length, f.decimals), 0);
    b.WriteTable();
  }
  KXO_dBaseFld t(path, true, false);
  for (size_t r = 0; r < rows.size(); ++r) {
    t.BlankBuffer();
    for (size_t i = 0; i < rows[r].size(); ++i) {
      const auto& info = t.Fields()[i];
      std::string text = rows[r][i];
      if (info.type == 'N') text = std::string(info.length - text.size(), ' ') + text;
      text.resize(static_cast<size_t>(info.length), ' ');
      std::copy(text.begin(), text.end(), t.Buffer() + info.offset);
    }
    t.AppendRecord();
    if (r < deleted.size() && deleted[r]) t.DeleteRecord();
  }
}

TEST(Rebuild, SameFieldsKeepEveryRecordMemoVersionAndMarkWhateverTheTableShows) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 60));
  for (const char* name :
       {"db3_memo", "db3_plain", "clipper", "db4_memo", "fox_memo", "fox_memo64"}) {
    SCOPED_TRACE(name);
    const std::string table = dir.File(std::string(name) + ".dbf");
    const auto before = ReadBytes(table);
    {
      KXO_dBHandler t(table, true, false);
      // What the table shows must not matter: hidden deleted records and a filter.
      t.SetShowDeleted(false);
      t.SetFilterExpression("RECNO() > 40");
      t.SetFilterActive(true);
      const TkxRebuildReport report = RebuildTable(t, SameFieldsPlan(t));
      EXPECT_EQ(report.records, 60);
    }
    EXPECT_TRUE(LeftoversGone(table));
    const auto after = ReadBytes(table);
    ASSERT_GT(after.size(), 32u);
    EXPECT_EQ(after[0], before[0]) << "version";
    EXPECT_EQ(after[29], before[29]) << "language mark";
    EXPECT_EQ(PeerCheck(dir.File(std::string(name) + ".expected.json"), table), 0);
  }
}

TEST(Rebuild, EveryNewFieldTakesTheValueOfItsOrigin) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 40));
  const std::string table = dir.File("fox_memo.dbf");
  std::vector<std::vector<std::string>> old;
  std::vector<bool> oldDeleted;
  {
    KXO_dBaseFld t(table, false, false);
    for (int32_t j = 1; j <= t.RecordCount(); ++j) {
      t.GetRecord(j);
      old.push_back({Field(t, "NAME"), Field(t, "CITY"), Field(t, "AMOUNT"), Field(t, "QTY")});
      oldDeleted.push_back(t.IsDeleted());
    }
  }
  // Fields of the table: NAME C20, CITY C12, AMOUNT N12.2, QTY N5, BORN D, FLAG L,
  // RATE F12.3, NOTE M. Move CITY first, drop QTY and RATE, widen NAME, add a field,
  // give AMOUNT a third decimal.
  TkxRebuildPlan plan;
  plan.fields = {{"CITY", 'C', 12, 0, 2},   {"NAME", 'C', 30, 0, 1}, {"EXTRA", 'C', 5, 0, 0},
                 {"AMOUNT", 'N', 14, 3, 3}, {"BORN", 'D', 8, 0, 5},  {"FLAG", 'L', 1, 0, 6},
                 {"NOTE", 'M', 10, 0, 8}};
  {
    KXO_dBHandler t(table, true, false);
    EXPECT_TRUE(FindMisfits(t, plan).empty());
    RebuildTable(t, plan);
  }
  KXO_dBaseFld t(table, false, false);
  ASSERT_EQ(t.FieldCount(), 7);
  ASSERT_EQ(t.RecordCount(), static_cast<int32_t>(old.size()));
  for (int32_t j = 1; j <= t.RecordCount(); ++j) {
    SCOPED_TRACE(j);
    t.GetRecord(j);
    const auto& o = old[static_cast<size_t>(j - 1)];
    EXPECT_EQ(t.IsDeleted(), oldDeleted[static_cast<size_t>(j - 1)]);
    EXPECT_EQ(Field(t, "CITY"), o[1]);
    EXPECT_EQ(Field(t, "NAME"), o[0] + std::string(10, ' '));
    EXPECT_EQ(Field(t, "EXTRA"), "     ");
    // Two places more in the same number: one more digit, one more decimal.
    const std::string amount =
        o[2].find_first_not_of(' ') == std::string::npos ? std::string(14, ' ') : " " + o[2] + "0";
    EXPECT_EQ(Field(t, "AMOUNT"), amount);
  }
  // The memos (checked by the peer) and the other values.
  DeriveExpected(dir.File("fox_memo.expected.json"), dir.File("new.json"), "EXTRA", "");
  const std::string script =
      "import json,sys\n"
      "e=json.load(open(sys.argv[1],encoding='utf-8'))\n"
      "for r in e['records']:\n"
      "  f=r['fields']; del f['QTY']; del f['RATE']\n"
      "  f['AMOUNT']=None if f['AMOUNT'] is None else f['AMOUNT']+'0'\n"
      "json.dump(e,open(sys.argv[1],'w',encoding='utf-8'))\n";
  fendral::test::WriteText(dir.File("fix.py"), script);
  ASSERT_EQ(
      RunCommand("/usr/bin/python3 '" + dir.File("fix.py") + "' '" + dir.File("new.json") + "'"),
      0);
  EXPECT_EQ(PeerCheck(dir.File("new.json"), table), 0);
}

TEST(Rebuild, NumbersKeepTheirDigitsAndRoundOnThem) {
  TempDir dir;
  const std::string table = dir.File("num.dbf");
  MakeTable(
      table, {{"BIG", 'N', 20, 4, 0}, {"R", 'N', 10, 3, 0}, {"TXT", 'C', 12, 0, 0}},
      {{"12345678901234.5678", "1.005", "  -42.50"}, {"-0.0004", "-2.995", "abc"}, {"", "", ""}},
      {false, true, false});
  TkxRebuildPlan plan;
  plan.fields = {
      {"BIG", 'N', 20, 5, 1}, {"R", 'N', 10, 2, 2}, {"TXT", 'N', 8, 1, 3}, {"BACK", 'C', 20, 0, 1}};
  {
    KXO_dBHandler t(table, true, false);
    const auto misfits = FindMisfits(t, plan);
    ASSERT_EQ(misfits.size(), 1u);
    EXPECT_EQ(misfits[0].record, 2);
    EXPECT_EQ(misfits[0].field, "TXT");
    EXPECT_THROW(RebuildTable(t, plan), ETolvernError);
  }
  EXPECT_TRUE(LeftoversGone(table));
  plan.acceptMisfits = true;
  {
    KXO_dBHandler t(table, true, false);
    RebuildTable(t, plan);
  }
  KXO_dBaseFld t(table, false, false);
  t.GetRecord(1);
  EXPECT_EQ(Field(t, "BIG"), "12345678901234.56780");
  EXPECT_EQ(Field(t, "R"), "      1.01");
  EXPECT_EQ(Field(t, "TXT"), "   -42.5");
  EXPECT_EQ(Field(t, "BACK"), "12345678901234.5678 ");
  t.GetRecord(2);
  EXPECT_TRUE(t.IsDeleted());
  EXPECT_EQ(Field(t, "BIG"), "            -0.00040");
  EXPECT_EQ(Field(t, "R"), "     -3.00");
  EXPECT_EQ(Field(t, "TXT"), "        ") << "a text that is no number stays blank";
  t.GetRecord(3);
  EXPECT_EQ(Field(t, "BIG"), std::string(20, ' '));
  EXPECT_EQ(Field(t, "R"), std::string(10, ' '));
}

TEST(Rebuild, NarrowedFieldsAreNamedBeforeAnythingChanges) {
  TempDir dir;
  const std::string table = dir.File("narrow.dbf");
  MakeTable(table, {{"NAME", 'C', 10, 0, 0}, {"QTY", 'N', 6, 0, 0}},
            {{"short", "12"}, {"much longer", "123456"}, {"abc", "99999"}});
  const auto before = ReadBytes(table);
  TkxRebuildPlan plan;
  plan.fields = {{"NAME", 'C', 5, 0, 1}, {"QTY", 'N', 5, 0, 2}};
  {
    KXO_dBHandler t(table, true, false);
    const auto misfits = FindMisfits(t, plan);
    ASSERT_EQ(misfits.size(), 1u);
    EXPECT_EQ(misfits[0].record, 2);
    EXPECT_EQ(misfits[0].field, "NAME");
    EXPECT_THROW(RebuildTable(t, plan), ETolvernError);
  }
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(LeftoversGone(table));
  plan.acceptMisfits = true;
  {
    KXO_dBHandler t(table, true, false);
    RebuildTable(t, plan);
  }
  KXO_dBaseFld t(table, false, false);
  t.GetRecord(2);
  EXPECT_EQ(Field(t, "NAME"), "much ");
  EXPECT_EQ(Field(t, "QTY"), "     ");
  t.GetRecord(3);
  EXPECT_EQ(Field(t, "QTY"), "99999");
}

TEST(Rebuild, VisualTablesAreRefusedBeforeAnythingChanges) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 10));
  const std::string table = dir.File("vfp.dbf");
  const auto before = ReadBytes(table);
  {
    KXO_dBHandler t(table, true, false);
    EXPECT_THROW(FindMisfits(t, SameFieldsPlan(t)), ETolvernError);
    EXPECT_THROW(RebuildTable(t, SameFieldsPlan(t)), ETolvernError);
  }
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(LeftoversGone(table));
}

std::vector<std::string> PeerKeys(const std::string& index, const std::string& table,
                                  const std::string& tag) {
  std::string out;
  RunCommand("perl '" + (SharedDir() / "peers").string() + "/dump_table.pl' --index '" + index + "'" +
                 (tag.empty() ? "" : " --tag " + tag) + " --type char '" + table + "' 2>&1",
             &out);
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < out.size()) {
    const size_t end = out.find('\n', start);
    lines.push_back(out.substr(start, end - start));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (!lines.empty() && lines.back().empty()) lines.pop_back();
  return lines;
}

TEST(Rebuild, IndexFilesDescribeTheNewTableAndBrokenTagsGo) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 50));
  const std::string table = dir.File("fox_memo.dbf");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(dir.File("fox_memo.cdx"), "NAME", 0, true, "", "UPPER(NAME)");
    t.IndexOn(dir.File("fox_memo.cdx"), "QTY", 1, true, "QTY > 0", "QTY");
    t.IndexOn(dir.File("fox_memo.cdx"), "CITYG", 7, true, "", "CITY");
    t.IndexOn(dir.File("city.ntx"), "", 0, true, "", "CITY");
    t.IndexOn(dir.File("qty.ndx"), "", 0, true, "", "STR(QTY,5)");
  }
  ASSERT_TRUE(ReadBytes(table)[28] & 1) << "the production flag is set";
  TkxRebuildReport report;
  {
    KXO_dBHandler t(table, true, false);
    for (const char* f : {"fox_memo.cdx", "city.ntx", "qty.ndx"})
      ASSERT_EQ(t.OpenIndexFile(dir.File(f)), 0) << f;
    TkxRebuildPlan plan;
    // QTY goes: its tags no longer compile.
    plan.fields = {{"NAME", 'C', 25, 0, 1},
                   {"CITY", 'C', 12, 0, 2},
                   {"NOTE", 'M', 10, 0, 8},
                   {"AMOUNT", 'N', 12, 2, 3}};
    report = RebuildTable(t, plan);
  }
  ASSERT_EQ(report.droppedTags.size(), 2u);
  EXPECT_NE(report.droppedTags[0].find("QTY"), std::string::npos);
  EXPECT_EQ(report.droppedFiles.size(), 1u);
  EXPECT_FALSE(fs::exists(dir.File("qty.ndx"))) << "an index without tags is removed";
  EXPECT_TRUE(ReadBytes(table)[28] & 1) << "the production flag stays";
  EXPECT_TRUE(LeftoversGone(table));

  KXO_dBHandler t(table, false, false);
  ASSERT_EQ(t.OpenIndexFile(dir.File("fox_memo.cdx")), 0);
  ASSERT_EQ(t.OpenIndexFile(dir.File("city.ntx")), 0);
  EXPECT_NE(t.TagByName("NAME"), nullptr);
  EXPECT_NE(t.TagByName("CITYG"), nullptr);
  EXPECT_EQ(t.TagByName("QTY"), nullptr);
  // Another program reads the rebuilt tags in key order over every record.
  for (const auto& [index, tag] : std::vector<std::pair<std::string, std::string>>{
           {dir.File("fox_memo.cdx"), "NAME"}, {dir.File("city.ntx"), ""}}) {
    SCOPED_TRACE(index + " " + tag);
    const auto keys = PeerKeys(index, table, tag);
    EXPECT_EQ(keys.size(), 50u) << (keys.empty() ? "" : keys[0]);
  }
}

TEST(Rebuild, AProductionMdxIsRebuiltUnderItsOwnName) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 7, 30));
  const std::string table = dir.File("db4_memo.dbf");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(dir.File("db4_memo.mdx"), "NAME", 0, true, "", "NAME");
    t.IndexOn(dir.File("db4_memo.mdx"), "CITY", 0, true, "", "CITY");
  }
  const auto before = ReadBytes(dir.File("db4_memo.mdx"));
  ASSERT_TRUE(ReadBytes(table)[28] & 1);
  {
    KXO_dBHandler t(table, true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    TkxRebuildPlan plan = SameFieldsPlan(t);
    plan.fields.push_back({"EXTRA", 'N', 4, 0, 0});
    EXPECT_TRUE(RebuildTable(t, plan).droppedTags.empty());
  }
  EXPECT_EQ(ReadBytes(table)[0], 0x8B);
  EXPECT_TRUE(ReadBytes(table)[28] & 1);
  const auto after = ReadBytes(dir.File("db4_memo.mdx"));
  ASSERT_GT(after.size(), 32u);
  // The name of the table the file belongs to (header bytes 4-19) is the table's own.
  EXPECT_EQ(std::vector<uint8_t>(after.begin() + 4, after.begin() + 20),
            std::vector<uint8_t>(before.begin() + 4, before.begin() + 20));
  for (const char* tag : {"NAME", "CITY"}) {
    EXPECT_EQ(PeerKeys(dir.File("db4_memo.mdx"), table, tag).size(), 30u) << tag;
  }
}

TEST(Rebuild, ConvertTranscodesThereAndBackAndRefusesMissingCharacters) {
  TempDir dir;
  const std::string table = dir.File("cyr.dbf");
  // "Привет" and "мир" in CP866.
  const std::string hello = "\x8F\xE0\xA8\xA2\xA5\xE2";
  const std::string world = "\xAC\xA8\xE0";
  MakeTable(table, {{"NAME", 'C', 10, 0, 0}, {"NOTE", 'M', 10, 0, 0}, {"N", 'N', 4, 0, 0}},
            {{hello, "", "1"}, {world, "", "2"}}, {false, true});
  {
    KXO_dBaseFld t(table, true, false);
    KXobjMemo* memo = t.OpenMemo();
    ASSERT_NE(memo, nullptr);
    t.GetRecord(1);
    const int32_t block =
        memo->MemoWrite(reinterpret_cast<const uint8_t*>(world.data()), world.size(), 0);
    t.PutNumber(2, block);
    t.PutRecord(1);
  }
  const auto original = ReadBytes(table);
  const auto originalMemo = ReadBytes(dir.File("cyr.fpt"));
  auto convert = [&](const std::string& from, const std::string& to) {
    KXO_dBHandler t(table, true, false);
    TkxRebuildPlan plan = SameFieldsPlan(t);
    plan.fromCodePage = from;
    plan.toCodePage = to;
    plan.languageMark = *MarkOfCodePage(to);
    RebuildTable(t, plan);
  };
  convert("CP866", "CP1251");
  {
    const auto bytes = ReadBytes(table);
    EXPECT_EQ(bytes[29], *MarkOfCodePage("CP1251"));
    KXO_dBaseFld t(table, false, false);
    t.GetRecord(1);
    EXPECT_EQ(Field(t, "NAME"), "\xCF\xF0\xE8\xE2\xE5\xF2    ");
    const auto memo = t.OpenMemo()->MemoRead(static_cast<int32_t>(t.GetNumber(2)));
    EXPECT_EQ(std::string(memo.begin(), memo.end()), "\xEC\xE8\xF0");
    t.GetRecord(2);
    EXPECT_TRUE(t.IsDeleted());
  }
  convert("CP1251", "CP866");
  auto back = ReadBytes(table);
  ASSERT_EQ(back.size(), original.size());
  // The date and time of the last write differ.
  for (int i : {1, 2, 3, 16, 17, 18, 19})
    back[static_cast<size_t>(i)] = original[static_cast<size_t>(i)];
  EXPECT_EQ(back[29], original[29] == 0 ? *MarkOfCodePage("CP866") : original[29]);
  back[29] = original[29];
  EXPECT_EQ(back, original);
  EXPECT_EQ(ReadBytes(dir.File("cyr.fpt")), originalMemo);

  // A box-drawing character of CP866 has no counterpart in CP1251: refused, nothing changes.
  {
    KXO_dBaseFld t(table, true, false);
    t.GetRecord(2);
    t.PutField(1, "ab\xB0");
    t.PutRecord(2);
  }
  const auto before = ReadBytes(table);
  try {
    convert("CP866", "CP1251");
    ADD_FAILURE() << "no error";
  } catch (const ETolvernError& e) {
    EXPECT_NE(std::string(e.what()).find("record 2, field NAME"), std::string::npos) << e.what();
  }
  EXPECT_EQ(ReadBytes(table), before);
  EXPECT_TRUE(LeftoversGone(table));
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

// The block type of the memo of field `name` in each record; -1 for a record without one.
std::vector<int64_t> BlockTypes(const std::string& table, const char* name) {
  KXO_dBaseFld t(table, false, false);
  const int32_t f = t.FieldNumber(name);
  KXobjMemo* memo = t.OpenMemo();
  std::vector<int64_t> types;
  for (int32_t r = 1; r <= t.RecordCount(); ++r) {
    t.GetRecord(r);
    const auto block = static_cast<int32_t>(t.GetNumber(f));
    if (block <= 0 || !memo || memo->MemoRead(block).empty()) {
      types.push_back(-1);
      continue;
    }
    types.push_back(memo->LastBlockType());
  }
  return types;
}

TEST(Rebuild, MemosKeepTheirBlockTypesAndGeneralFieldsHoldObjects) {
  REQUIRE_SHARED();
  TempDir dir;
  const fs::path from = SharedDir() / "fixtures" / "php-xbase" / "foxpro";
  fs::copy_file(from / "Foxpro2.dbf", dir.Path() / "fox2.dbf");
  fs::copy_file(from / "Foxpro2.fpt", dir.Path() / "fox2.fpt");
  const std::string table = dir.File("fox2.dbf");
  {
    // A general field's memo written here is an object, as FoxPro marks it.
    KXO_dBaseFld t(table, true, false);
    t.GetRecord(2);
    const std::vector<uint8_t> object{0x00, 0x01, 0xFF, 0x1A, 'o', 'l', 'e'};
    ASSERT_TRUE(t.WriteMemo(t.FieldNumber("GENERAL"), object));
    t.PutRecord(2);
  }
  const std::vector<int64_t> general = BlockTypes(table, "GENERAL");
  const std::vector<int64_t> bio = BlockTypes(table, "BIO");
  ASSERT_EQ(general.size(), 3u);
  EXPECT_EQ(general[1], KXobjMemo::kObjectBlock);
  EXPECT_EQ(general[0], KXobjMemo::kTextBlock) << "as the other program wrote it";
  for (const int64_t type : bio) EXPECT_TRUE(type == KXobjMemo::kTextBlock || type == -1);
  // Copies and rebuilds keep every memo's type.
  {
    KXO_dBHandler t(table, false, false);
    t.CopyTable(dir.File("copy.dbf"));
  }
  EXPECT_EQ(BlockTypes(dir.File("copy.dbf"), "GENERAL"), general);
  EXPECT_EQ(BlockTypes(dir.File("copy.dbf"), "BIO"), bio);
  {
    KXO_dBHandler t(table, true, false);
    RebuildTable(t, SameFieldsPlan(t));
  }
  EXPECT_EQ(BlockTypes(table, "GENERAL"), general);
  EXPECT_EQ(BlockTypes(table, "BIO"), bio);
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

// Fields of types a new table is not made with (autoincrement with its counter in the
// descriptor, currency, date-time) are carried as the table stores them, and a picture
// field's memo is copied like any other memo.
TEST(Rebuild, FieldsOfEveryStoredTypeAreCarriedWithTheirDescriptorBytes) {
  REQUIRE_SHARED();
  for (const char* name : {"minigui-mgm/basic/DO_REPORT/country.dbf", "dbd-xbase/types.dbf"}) {
    SCOPED_TRACE(name);
    TempDir dir;
    const std::string path = dir.File("t.dbf");
    fs::copy_file(SharedDir() / "fixtures" / name, path);
    const std::vector<uint8_t> before = ReadBytes(path);
    std::vector<std::string> records;
    {
      KXO_dBHandler t(path, true, false);
      for (int32_t j = 1; j <= t.RecordCount(); ++j) {
        t.KXO_dBaseFld::GetRecord(j);
        records.emplace_back(reinterpret_cast<const char*>(t.Buffer()),
                             static_cast<size_t>(t.RecordLength()));
      }
      RebuildTable(t, SameFieldsPlan(t));
    }
    const std::vector<uint8_t> after = ReadBytes(path);
    KXO_dBHandler t(path, false, false);
    ASSERT_EQ(t.RecordCount(), static_cast<int32_t>(records.size()));
    for (int32_t j = 1; j <= t.RecordCount(); ++j) {
      t.KXO_dBaseFld::GetRecord(j);
      EXPECT_EQ(std::string(reinterpret_cast<const char*>(t.Buffer()),
                            static_cast<size_t>(t.RecordLength())),
                records[static_cast<size_t>(j - 1)]);
    }
    // Every descriptor's name, type, width, decimals and the bytes after them but for
    // byte 31 (12-15, a field offset some programs keep, are rewritten as 0).
    for (size_t i = 1; i <= t.Fields().size(); ++i) {
      const auto at = static_cast<long>(32 * i);
      EXPECT_TRUE(std::equal(before.begin() + at, before.begin() + at + 12, after.begin() + at))
          << "descriptor " << i;
      EXPECT_TRUE(
          std::equal(before.begin() + at + 16, before.begin() + at + 31, after.begin() + at + 16))
          << "descriptor " << i;
    }
  }

  // A picture field beside a memo field in a FoxPro table; new tables take the usual types
  // only.
  TempDir dir;
  {
    KXO_DBFoxBuild refusing(dir.File("new.dbf"));
    refusing.SetWriteEnabled(false);
    EXPECT_THROW(refusing.AddField("PIC", 'P', 10, 0), ETolvernError);
  }
  const std::string path = dir.File("pic.dbf");
  {
    KXO_DBFoxBuild b(path);
    ASSERT_GE(b.AddField("NOTE", 'M', 10, 0), 0);
    b.SetAcceptStoredTypes(true);
    ASSERT_GE(b.AddField("PIC", 'P', 10, 0), 0);
    b.WriteTable();
  }
  {
    KXO_dBHandler t(path, true, false);
    t.BlankBuffer();
    const std::string note = "note one";
    const std::string picture = "picture bytes";
    ASSERT_TRUE(t.WriteMemo(1, {reinterpret_cast<const uint8_t*>(note.data()), note.size()}));
    const int32_t block = t.OpenMemo()->MemoWrite(reinterpret_cast<const uint8_t*>(picture.data()),
                                                  picture.size(), 0);
    ASSERT_GT(block, 0);
    std::string pointer = std::to_string(block);
    pointer.insert(0, 10 - pointer.size(), ' ');
    std::copy(pointer.begin(), pointer.end(), t.Buffer() + t.Fields()[1].offset);
    t.AppendRecord();
    RebuildTable(t, SameFieldsPlan(t));
  }
  KXO_dBHandler t(path, false, false);
  ASSERT_EQ(t.Fields().size(), 2u);
  EXPECT_EQ(t.Fields()[1].type, 'P');
  t.KXO_dBaseFld::GetRecord(1);
  std::vector<uint8_t> memo;
  ASSERT_TRUE(t.ReadMemo(1, memo));
  EXPECT_EQ(std::string(memo.begin(), memo.end()), "note one");
  const std::string pointer(reinterpret_cast<const char*>(t.Buffer()) + t.Fields()[1].offset, 10);
  memo = t.OpenMemo()->MemoRead(std::stoi(pointer));
  EXPECT_EQ(std::string(memo.begin(), memo.end()), "picture bytes");
}

}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

bool Exists(const TempDir& dir, const std::string& name) { return fs::exists(dir.File(name)); }

std::vector<std::string> TagNames(const std::string& table, const std::string& index) {
  KXO_dBHandler t(table, false, false);
  t.OpenIndexFile(index);
  std::vector<std::string> names;
  for (int slot = 1; slot <= KXO_dBHandler::kMaxIndexFiles; ++slot)
    if (KXobjIndexFile* file = t.IndexFile(slot))
      for (int i = 0; i < file->TagCount(); ++i) names.push_back(file->TagAt(i)->TagName());
  return names;
}

// dBase III with memos -> FoxPro -> dBase IV -> Clipper: the version byte, the memo file
// and the index files follow each step, and the peers read every record and memo.
TEST(Rebuild, ConvertingCarriesMemosAndIndexTagsIntoTheOtherKind) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 31, 40, "db3_memo"));
  const std::string table = dir.File("db3_memo.dbf");
  const std::string expected = dir.File("db3_memo.expected.json");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(dir.File("db3_memo.ndx"), "", 0, true, "", "NAME");
  }
  struct Step {
    TkxMemoKind memo;
    TkxIndexFormat format;
    uint8_t version;
    const char* memoFile;
    const char* indexFile;
  };
  const Step steps[] = {
      {TkxMemoKind::kFoxPro, TkxIndexFormat::kCdx, 0xF5, "db3_memo.fpt", "db3_memo.cdx"},
      {TkxMemoKind::kDBase4, TkxIndexFormat::kMdx, 0x8B, "db3_memo.dbt", "db3_memo.mdx"},
      {TkxMemoKind::kDBase3, TkxIndexFormat::kNtx, 0x83, "db3_memo.dbt", "DB3_MEMO.ntx"},
  };
  std::string previousIndex = "db3_memo.ndx";
  for (const Step& step : steps) {
    SCOPED_TRACE(step.indexFile);
    {
      KXO_dBHandler t(table, true, false);
      t.OpenIndexFile(dir.File(previousIndex));
      TkxRebuildPlan plan = SameFieldsPlan(t);
      plan.memoKind = step.memo;
      plan.indexFormat = step.format;
      EXPECT_TRUE(ConversionLosses(t, step.format).empty());
      const auto conversions = IndexConversions(t, step.format);
      ASSERT_EQ(conversions.size(), 1u);
      ASSERT_EQ(conversions[0].to.size(), 1u);
      EXPECT_EQ(fs::path(conversions[0].to[0]).filename(), step.indexFile);
      const TkxRebuildReport report = RebuildTable(t, plan);
      EXPECT_TRUE(report.droppedTags.empty());
    }
    EXPECT_TRUE(LeftoversGone(table));
    EXPECT_EQ(ReadBytes(table)[0], step.version);
    EXPECT_TRUE(Exists(dir, step.memoFile));
    EXPECT_FALSE(step.memo != TkxMemoKind::kFoxPro && Exists(dir, "db3_memo.fpt"));
    EXPECT_FALSE(step.memo == TkxMemoKind::kFoxPro && Exists(dir, "db3_memo.dbt"));
    EXPECT_FALSE(Exists(dir, previousIndex)) << "the old index file goes";
    ASSERT_TRUE(Exists(dir, step.indexFile));
    EXPECT_EQ(PeerCheck(expected, table), 0) << "every record and memo, read by the peers";
    // The tag is whole: as many keys as records, in NAME order.
    {
      KXO_dBHandler t(table, false, false);
      t.OpenIndexFile(dir.File(step.indexFile));
      ASSERT_EQ(TagNames(table, dir.File(step.indexFile)).size(), 1u);
      t.SelectOrder(TagNames(table, dir.File(step.indexFile))[0], false);
      std::vector<std::string> keys;
      for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) keys.push_back(Field(t, "NAME"));
      EXPECT_EQ(keys.size(), 40u);
      EXPECT_TRUE(std::is_sorted(keys.begin(), keys.end()));
    }
    // Perl XBase walks the converted index too.
    const std::string tag = step.format == TkxIndexFormat::kNtx ? "" : "DB3_MEMO";
    EXPECT_EQ(PeerKeys(dir.File(step.indexFile), table, tag).size(), 40u);
    previousIndex = step.indexFile;
  }
}

// An NDX file holds neither a FOR condition nor a descending order: such tags are named
// before anything is written and dropped by the conversion; the others get a file each,
// named after the tag.
TEST(Rebuild, TagsAnNdxFileCannotHoldAreNamedAndDropped) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 32, 30, "fox_memo"));
  const std::string table = dir.File("fox_memo.dbf");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(dir.File("fox_memo.cdx"), "NAME", 0, true, "", "NAME");
    t.IndexOn(dir.File("fox_memo.cdx"), "BIG", 0, true, "QTY > 10", "NAME");
    t.IndexOn(dir.File("fox_memo.cdx"), "DOWN", 1, true, "", "CITY");
  }
  KXO_dBHandler t(table, true, false);
  t.OpenIndexFile(dir.File("fox_memo.cdx"));
  const auto losses = ConversionLosses(t, TkxIndexFormat::kNdx);
  ASSERT_EQ(losses.size(), 2u);
  EXPECT_NE(losses[0].find("BIG"), std::string::npos);
  EXPECT_NE(losses[1].find("DOWN"), std::string::npos);
  TkxRebuildPlan plan = SameFieldsPlan(t);
  plan.indexFormat = TkxIndexFormat::kNdx;
  const TkxRebuildReport report = RebuildTable(t, plan);
  EXPECT_EQ(report.droppedTags.size(), 2u);
  EXPECT_TRUE(Exists(dir, "NAME.ndx"));
  EXPECT_FALSE(Exists(dir, "BIG.ndx"));
  EXPECT_FALSE(Exists(dir, "fox_memo.cdx"));
  EXPECT_EQ(ReadBytes(table)[28] & 0x01, 0) << "no production index any more";
}

}  // namespace
}  // namespace tolvern
