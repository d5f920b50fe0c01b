// Mending a damaged table: every repair leaves a table the check finds clean, keeps every
// intact record's values (the peers read them), keeps the originals, and is refused while
// another program has the table open.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_journal.h"
#include "kx6_verify.h"
#include "platform/pf_file.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::MakePeerTables;
using fendral::test::PeerCheck;
using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;
namespace fs = std::filesystem;

uint32_t U16(const std::vector<uint8_t>& b, size_t at) { return b[at] | (b[at + 1] << 8); }
void PutU32(std::vector<uint8_t>& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

// NAME C(10), NOTE M(10) in a FoxPro table; each record has a memo.
std::string MakeTable(const TempDir& dir, int records = 6) {
  const std::string path = dir.File("t.dbf");
  {
    KXO_DBFoxBuild b(path);
    b.AddField("NAME", 'C', 10, 0);
    b.AddField("NOTE", 'M', 10, 0);
    b.WriteTable();
  }
  KXO_dBaseFld t(path, true, false);
  for (int r = 1; r <= records; ++r) {
    t.BlankBuffer();
    t.PutFieldText(1, "name" + std::to_string(r));
    t.AppendRecord();
    const std::string memo = "memo " + std::to_string(r) + std::string(r * 50, 'm');
    EXPECT_TRUE(t.WriteMemo(2, {reinterpret_cast<const uint8_t*>(memo.data()), memo.size()}));
    t.PutRecord(r);
  }
  return path;
}

struct Row {
  std::string name;
  std::string memo;
  bool operator==(const Row&) const = default;
};
std::vector<Row> Rows(const std::string& path) {
  std::vector<Row> rows;
  KXO_dBaseFld t(path, false, true);
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) {
    std::vector<uint8_t> memo;
    t.ReadMemo(2, memo);
    rows.push_back({t.GetFieldText(1), std::string(memo.begin(), memo.end())});
  }
  return rows;
}

std::vector<TkxFinding> Check(const std::string& path, std::vector<std::string> indexes = {}) {
  std::vector<TkxFinding> found;
  TkxVerifyOptions options;
  options.deep = true;
  options.indexFiles = std::move(indexes);
  VerifyTable(path, options, [&](const TkxFinding& f) { found.push_back(f); });
  return found;
}

std::string Describe(const std::vector<TkxFinding>& found) {
  std::string out;
  for (const auto& f : found) out += f.code + "@" + std::to_string(f.recno) + " " + f.detail + "\n";
  return out;
}

void SetPointer(const std::string& table, int r, const std::string& digits) {
  std::vector<uint8_t> b = ReadBytes(table);
  const size_t at = U16(b, 8) + (r - 1) * U16(b, 10) + 11;
  std::string text(10 - digits.size(), ' ');
  text += digits;
  std::copy(text.begin(), text.end(), b.begin() + static_cast<std::ptrdiff_t>(at));
  WriteBytes(table, b);
}
std::string Pointer(const std::string& table, int r) {
  const std::vector<uint8_t> b = ReadBytes(table);
  const size_t at = U16(b, 8) + (r - 1) * U16(b, 10) + 11;
  std::string text(b.begin() + static_cast<std::ptrdiff_t>(at),
                   b.begin() + static_cast<std::ptrdiff_t>(at + 10));
  return text.substr(text.find_first_not_of(' '));
}

TEST(RepairTable, HeaderCountsCutTablesAndTerminatorAreMended) {
  struct Damage {
    const char* name;
    void (*apply)(std::vector<uint8_t>&);
    int records;  // after the repair
  };
  const Damage damages[] = {
      {"count too large", [](std::vector<uint8_t>& b) { PutU32(b, 4, 40); }, 6},
      {"count too small", [](std::vector<uint8_t>& b) { PutU32(b, 4, 2); }, 6},
      {"cut in record 6", [](std::vector<uint8_t>& b) { b.resize(U16(b, 8) + 5 * U16(b, 10) + 9); },
       5},
      {"no terminator", [](std::vector<uint8_t>& b) { b[U16(b, 8) - 1] = 0; }, 6},
  };
  for (const Damage& d : damages) {
    SCOPED_TRACE(d.name);
    TempDir dir;
    const std::string table = MakeTable(dir);
    const std::vector<Row> good = Rows(table);
    std::vector<uint8_t> bytes = ReadBytes(table);
    d.apply(bytes);
    WriteBytes(table, bytes);
    const auto memoBefore = ReadBytes(dir.File("t.fpt"));
    ASSERT_FALSE(Check(table).empty());

    const TkxRepairReport report = RepairTable(table, {});
    EXPECT_TRUE(report.changed);
    EXPECT_FALSE(report.changes.empty());
    EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
    EXPECT_TRUE(report.after.Clean());
    EXPECT_TRUE(Check(table).empty()) << Describe(Check(table));
    std::vector<Row> expected(good.begin(), good.begin() + d.records);
    EXPECT_EQ(Rows(table), expected);
    // The file ends with the end-of-file mark after the last record.
    const std::vector<uint8_t> after = ReadBytes(table);
    EXPECT_EQ(after.size(), U16(after, 8) + d.records * U16(after, 10) + 1u);
    EXPECT_EQ(after.back(), 0x1A);
    // The originals, unchanged, in the backup folder; nothing of the journal left.
    ASSERT_FALSE(report.backupFolder.empty());
    EXPECT_EQ(fs::path(report.backupFolder).parent_path(), fs::path(table).parent_path());
    EXPECT_EQ(fs::path(report.backupFolder).filename().string().rfind("t.dbf.repair-", 0), 0u);
    EXPECT_TRUE(ReadBytes(report.backupFolder + "/t.dbf") == bytes);
    EXPECT_TRUE(ReadBytes(report.backupFolder + "/t.fpt") == memoBefore);
    EXPECT_FALSE(fs::exists(ReplaceJournalPath(table)));
  }
}

TEST(RepairTable, MemoPointersThatCannotBeFollowedAreClearedAndListed) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  const std::vector<Row> good = Rows(table);
  SetPointer(table, 2, "99999");  // past the end
  SetPointer(table, 4, "3");      // in the header
  const TkxRepairReport report = RepairTable(table, {});
  EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
  int listed = 0;
  for (const auto& c : report.changes)
    if (c.find("memo pointer cleared") != std::string::npos) ++listed;
  EXPECT_EQ(listed, 2);
  std::vector<Row> expected = good;
  expected[1].memo.clear();
  expected[3].memo.clear();
  EXPECT_EQ(Rows(table), expected);
}

TEST(RepairTable, RecordsSharingAMemoEachGetTheirOwnCopy) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  SetPointer(table, 5, Pointer(table, 1));
  std::vector<Row> expected = Rows(table);
  ASSERT_EQ(expected[4].memo, expected[0].memo);
  const TkxRepairReport report = RepairTable(table, {});
  EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
  EXPECT_EQ(Rows(table), expected);
  EXPECT_NE(Pointer(table, 5), Pointer(table, 1));
  // The memo record 5 lost is gone from the compacted file.
  EXPECT_EQ(report.after.unreachableMemoBlocks, 0);
}

TEST(RepairTable, DryRunListsAndChangesNothing) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  std::vector<uint8_t> bytes = ReadBytes(table);
  PutU32(bytes, 4, 99);
  WriteBytes(table, bytes);
  TkxRepairOptions options;
  options.dryRun = true;
  const TkxRepairReport report = RepairTable(table, options);
  EXPECT_FALSE(report.changed);
  EXPECT_TRUE(report.backupFolder.empty());
  ASSERT_FALSE(report.changes.empty());
  EXPECT_NE(report.changes[0].find("99"), std::string::npos);
  EXPECT_TRUE(ReadBytes(table) == bytes);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 2);
}

TEST(RepairTable, CleanTableIsLeftAlone) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  const auto bytes = ReadBytes(table);
  const TkxRepairReport report = RepairTable(table, {});
  EXPECT_FALSE(report.changed);
  EXPECT_TRUE(report.changes.empty());
  EXPECT_TRUE(ReadBytes(table) == bytes);
}

TEST(RepairTable, RefusedWhileAnotherProgramHasTheTableOpen) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  std::vector<uint8_t> bytes = ReadBytes(table);
  PutU32(bytes, 4, 1);
  WriteBytes(table, bytes);
  platform::OsFile other;
  ASSERT_EQ(other.Open(table, false), 0);
  ASSERT_EQ(other.ShareLock(false), 0);
  try {
    RepairTable(table, {});
    ADD_FAILURE() << "the repair ran";
  } catch (const ETolvernError& e) {
    EXPECT_NE(std::string(e.what()).find("in use"), std::string::npos) << e.what();
  }
  EXPECT_TRUE(ReadBytes(table) == bytes);
  other.Close();
  EXPECT_TRUE(RepairTable(table, {}).changed);
}

// Index files follow the mended table: every record has its key afterwards, and one whose
// definitions are lost is rebuilt from the expressions given.
TEST(RepairTable, IndexFilesAreRebuiltForTheMendedTable) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(dir.File("t.ntx"), "", 0, true, "", "NAME");
    t.IndexOn(dir.File("t.cdx"), "BYNAME", 1, true, "", "NAME");
    t.IndexOn(dir.File("t.cdx"), "LONG", 0, true, "RECNO() > 2", "UPPER(NAME)");
  }
  std::vector<uint8_t> bytes = ReadBytes(table);
  bytes[28] |= 0x01;
  PutU32(bytes, 4, 3);
  // Records appended by a writer that did not keep the header or the indexes current.
  const size_t rl = U16(bytes, 10);
  std::vector<uint8_t> extra(bytes.end() - 1 - static_cast<std::ptrdiff_t>(rl), bytes.end() - 1);
  std::copy_n("zzz       ", 10, extra.begin() + 1);
  std::fill(extra.begin() + 11, extra.end(), ' ');
  bytes.insert(bytes.end() - 1, extra.begin(), extra.end());
  WriteBytes(table, bytes);
  // The NTX file is lost to garbage.
  WriteBytes(dir.File("t.ntx"), std::vector<uint8_t>(2048, 0xA5));
  ASSERT_FALSE(Check(table).empty());

  TkxRepairReport report = RepairTable(table, {});
  EXPECT_FALSE(report.notMended.empty()) << "the lost definitions are reported";
  TkxRepairOptions options;
  options.indexExpressions["T"] = "NAME";
  report = RepairTable(table, options);
  EXPECT_TRUE(report.notMended.empty()) << report.notMended.front();
  EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
  EXPECT_TRUE(Check(table).empty()) << Describe(Check(table));

  KXO_dBHandler t(table, false, true);
  ASSERT_EQ(t.OpenIndexFile(dir.File("t.ntx")), 0);
  ASSERT_EQ(t.OpenIndexFile(dir.File("t.cdx")), 0);
  for (const char* tag : {"T", "BYNAME", "LONG"}) {
    SCOPED_TRACE(tag);
    t.SelectOrder(tag, false);
    std::set<int32_t> seen;
    for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) seen.insert(t.CurrentRecord());
    EXPECT_EQ(seen.size(), std::string(tag) == "LONG" ? 5u : 7u);
  }
  t.SelectOrder("BYNAME", false);
  t.GetRecord(PosTop);
  EXPECT_EQ(t.CurrentRecord(), 7) << "descending kept";
}

// Tables written by the peers, damaged and mended: the peers read every intact record.
TEST(RepairTable, PeersReadTheMendedTables) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(MakePeerTables(dir, 11, 12, "db3_memo,db4_memo,fox_memo"));
  for (const char* name : {"db3_memo", "db4_memo", "fox_memo"}) {
    SCOPED_TRACE(name);
    const std::string table = dir.File(std::string(name) + ".dbf");
    std::vector<uint8_t> bytes = ReadBytes(table);
    PutU32(bytes, 4, 30);
    bytes.resize(bytes.size() - 1 - U16(bytes, 10) / 2);  // record 12 cut
    // Record 5 points at record 1's memo.
    size_t note = 1;
    for (size_t d = 32; d + 32 <= U16(bytes, 8) && bytes[d] != 0x0D; d += 32) {
      if (std::string(reinterpret_cast<const char*>(&bytes[d])) == "NOTE") break;
      note += bytes[d + 11] == 'C' ? U16(bytes, d + 16) : bytes[d + 16];
    }
    const size_t header = U16(bytes, 8), length = U16(bytes, 10);
    std::copy_n(bytes.begin() + static_cast<std::ptrdiff_t>(header + note), 10,
                bytes.begin() + static_cast<std::ptrdiff_t>(header + 4 * length + note));
    WriteBytes(table, bytes);
    TkxRepairOptions options;
    options.compactMemo = true;
    const TkxRepairReport report = RepairTable(table, options);
    EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
    EXPECT_EQ(report.after.unreachableMemoBlocks, 0);
    const std::string expected = dir.File(std::string(name) + ".cut.json");
    ASSERT_TRUE(fendral::test::EditExpected(
        dir.File(std::string(name) + ".expected.json"), expected,
        "e['records'] = e['records'][:11]\n"
        "e['records'][4]['fields']['NOTE'] = e['records'][0]['fields']['NOTE']\n"));
    EXPECT_EQ(PeerCheck(expected, table), 0);
  }
}

// An interrupted replacement that never committed is undone before the repair, as any
// writer's open does; the dry run leaves it for the check to report.
TEST(RepairTable, UnfinishedReplacementIsUndoneFirst) {
  TempDir dir;
  const std::string table = MakeTable(dir);
  std::vector<uint8_t> bytes = ReadBytes(table);
  PutU32(bytes, 4, 1);
  WriteBytes(table, bytes);
  const std::string journal = ReplaceJournalPath(table);
  fendral::test::WriteText(journal, "PREPARE\n");
  TkxRepairOptions dry;
  dry.dryRun = true;
  EXPECT_TRUE(fs::exists(journal));
  RepairTable(table, dry);
  EXPECT_TRUE(fs::exists(journal)) << "a dry run changes nothing";
  const TkxRepairReport report = RepairTable(table, {});
  EXPECT_TRUE(report.changed);
  EXPECT_TRUE(report.remaining.empty()) << Describe(report.remaining);
  EXPECT_FALSE(fs::exists(journal));
}

}  // namespace
}  // namespace tolvern
