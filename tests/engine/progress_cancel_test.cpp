// Long work reports its progress and stops when told: every loop (pack, reindex, a tag or
// index file build, copy, rebuild, text search) stopped at its first, a middle and its last
// step throws ETolvernCancelled and leaves every file byte for byte as it was; finished, it
// leaves what the peers read as the table.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_journal.h"
#include "kx6_progress.h"
#include "kx6_rebuild.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
namespace fs = std::filesystem;

// Counts the reports; answers false at step `stopAt` (0: never).
class RecordingProgress : public TkxProgress {
 public:
  explicit RecordingProgress(int stopAt = 0) : stopAt_(stopAt) {}
  void Start(int32_t kind, int64_t) override {
    kinds.push_back(kind);
    ++open;
  }
  bool Step(int64_t) override { return ++steps != stopAt_; }
  void Finish() override { --open; }

  std::vector<int32_t> kinds;
  int steps = 0;
  int open = 0;  // Starts not yet finished

 private:
  int stopAt_;
};

constexpr int kRecords = 2600;

enum class Kind { kFox, kDb4 };

std::string IndexExt(Kind kind) { return kind == Kind::kFox ? ".cdx" : ".mdx"; }

// A table of kRecords records with a memo file (every third record has a memo) and a
// production index of two tags; every fifth record is deleted.
void MakeTable(const TempDir& dir, Kind kind) {
  const std::string path = dir.File("t.dbf");
  {
    std::unique_ptr<KXO_DBFBuild> b;
    if (kind == Kind::kFox) {
      b = std::make_unique<KXO_DBFoxBuild>(path);
    } else {
      b = std::make_unique<KXO_DB4Build>(path);
    }
    ASSERT_GE(b->AddField("NAME", 'C', 10, 0), 0);
    ASSERT_GE(b->AddField("CITY", 'C', 8, 0), 0);
    ASSERT_GE(b->AddField("NOTE", 'M', 10, 0), 0);
    b->WriteTable();
  }
  KXO_dBHandler t(path, true, false);
  for (int i = 1; i <= kRecords; ++i) {
    t.BlankBuffer();
    char name[16];
    std::snprintf(name, sizeof name, "N%06d", (i * 7919) % 100000);
    t.PutFieldByName("NAME", name);
    t.PutFieldByName("CITY", i % 2 ? "PARIS" : "OSLO");
    t.AppendRecord();
    if (i % 3 == 0) {
      const std::string note = "memo of record " + std::to_string(i) + std::string(i % 700, 'x');
      ASSERT_TRUE(t.WriteMemo(3, {reinterpret_cast<const uint8_t*>(note.data()), note.size()}));
      t.PutRecord(i);
    }
    if (i % 5 == 0) t.DeleteRecord();
  }
  const std::string index = dir.File("t" + IndexExt(kind));
  t.IndexOn(index, "NAME", 0, true, "", "NAME");
  t.IndexOn(index, "CITY", 0, true, "", "CITY+NAME");
  t.SetProductionIndexFlag(true);
  t.FlushFile();
}

// Every file under `dir` (staging directories included) with its bytes.
std::map<std::string, std::vector<uint8_t>> Snapshot(const fs::path& dir) {
  std::map<std::string, std::vector<uint8_t>> files;
  for (const auto& e : fs::recursive_directory_iterator(dir)) {
    const std::string rel = fs::relative(e.path(), dir).string();
    files[rel] = e.is_regular_file() ? ReadBytes(e.path()) : std::vector<uint8_t>{};
  }
  return files;
}

void CopyDir(const fs::path& from, const fs::path& to) {
  for (const auto& e : fs::directory_iterator(to)) fs::remove_all(e.path());
  for (const auto& e : fs::directory_iterator(from))
    fs::copy(e.path(), to / e.path().filename(), fs::copy_options::recursive);
}

int LiveRecords() { return kRecords - kRecords / 5; }

// The table opens, its production index has both tags, and the NAME order visits every
// live record.
void ExpectTableReads(const std::string& table, int live) {
  KXO_dBHandler t(table, false, false);
  ASSERT_TRUE(t.OpenProductionIndex());
  ASSERT_NE(t.TagByName("CITY"), nullptr);
  t.SetShowDeleted(false);
  ASSERT_GT(t.SelectOrder("NAME", false), 0);
  int seen = 0;
  std::string last;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) {
    const std::string name = t.GetFieldByName("NAME");
    EXPECT_LE(last, name);
    last = name;
    ++seen;
  }
  EXPECT_EQ(seen, live);
}

using Work = std::function<void(KXO_dBHandler&, const TempDir&)>;

// Runs `work` once to count its steps and check the kinds it reports, then again on fresh
// copies stopped at the first, a middle and the last step.
void ExpectCancelLeavesEveryFile(Kind kind, const Work& work, int32_t firstKind) {
  TempDir pristine;
  MakeTable(pristine, kind);
  const std::string name = "t.dbf";
  int steps = 0;
  {
    TempDir dry;
    CopyDir(pristine.Path(), dry.Path());
    RecordingProgress all;
    KXO_dBHandler t(dry.File(name), true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    t.SetProgress(&all);
    work(t, dry);
    steps = all.steps;
    ASSERT_FALSE(all.kinds.empty());
    EXPECT_EQ(all.kinds.front(), firstKind);
    EXPECT_EQ(all.open, 0) << "every Start has its Finish";
  }
  ASSERT_GE(steps, 3) << "too few steps to stop in the middle";
  for (int stopAt : {1, steps / 2, steps}) {
    SCOPED_TRACE("stopped at step " + std::to_string(stopAt) + " of " + std::to_string(steps));
    TempDir work_dir;
    CopyDir(pristine.Path(), work_dir.Path());
    const auto before = Snapshot(work_dir.Path());
    {
      RecordingProgress progress(stopAt);
      KXO_dBHandler t(work_dir.File(name), true, false);
      ASSERT_TRUE(t.OpenProductionIndex());
      t.SetProgress(&progress);
      EXPECT_THROW(work(t, work_dir), ETolvernCancelled);
      EXPECT_EQ(progress.steps, stopAt) << "the work went on after the stop";
      EXPECT_EQ(progress.open, 0);
      // The table object still reads.
      t.SetProgress(nullptr);
      t.GetRecord(PosTop);
      EXPECT_FALSE(t.Eof());
    }
    const auto after = Snapshot(work_dir.Path());
    EXPECT_EQ(before.size(), after.size()) << "files were made or removed";
    for (const auto& [file, bytes] : before) {
      auto it = after.find(file);
      ASSERT_NE(it, after.end()) << file << " is gone";
      EXPECT_TRUE(it->second == bytes) << file << " changed";
    }
    ExpectTableReads(work_dir.File(name), LiveRecords());
  }
}

TEST(ProgressCancel, PackLeavesEveryFileAsItWas) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    ExpectCancelLeavesEveryFile(
        kind, [](KXO_dBHandler& t, const TempDir&) { t.Pack(); }, kStatusPack);
  }
}

TEST(ProgressCancel, ReindexPutsTheIndexFilesBack) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    ExpectCancelLeavesEveryFile(
        kind, [](KXO_dBHandler& t, const TempDir&) { t.ReindexAll(); }, kStatusIndexRead);
  }
}

TEST(ProgressCancel, ANewTagLeavesTheMultiTagFileAsItWas) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    ExpectCancelLeavesEveryFile(
        kind,
        [kind](KXO_dBHandler& t, const TempDir& dir) {
          t.IndexOn(dir.File("t" + IndexExt(kind)), "BYCITY", 1, true, "", "CITY");
        },
        kStatusIndexRead);
  }
}

TEST(ProgressCancel, ANewIndexFileIsRemoved) {
  for (const char* file : {"name.ntx", "name.ndx", "other.cdx"}) {
    SCOPED_TRACE(file);
    ExpectCancelLeavesEveryFile(
        Kind::kFox,
        [file](KXO_dBHandler& t, const TempDir& dir) {
          t.IndexOn(dir.File(file), "NAME", 0, true, "", "NAME");
        },
        kStatusIndexRead);
  }
}

TEST(ProgressCancel, CopyRemovesTheNewTableAndMemo) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    ExpectCancelLeavesEveryFile(
        kind, [](KXO_dBHandler& t, const TempDir& dir) { t.CopyTable(dir.File("copy.dbf")); },
        kStatusCopy);
  }
}

TEST(ProgressCancel, RebuildDiscardsItsStaging) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    ExpectCancelLeavesEveryFile(
        kind,
        [](KXO_dBHandler& t, const TempDir&) {
          TkxRebuildPlan plan = SameFieldsPlan(t);
          plan.fields.push_back(TkxRebuildField{"EXTRA", 'C', 4, 0, 0});
          RebuildTable(t, plan);
        },
        kStatusRebuild);
  }
}

// A progress that stops the work by raising its own exception at its last step.
class RaisingProgress : public RecordingProgress {
 public:
  explicit RaisingProgress(int at) : at_(at) {}
  bool Step(int64_t done) override {
    RecordingProgress::Step(done);
    if (steps == at_) throw std::runtime_error("closing");
    return true;
  }

 private:
  int at_;
};

TEST(ProgressCancel, ARebuildStoppedByTheProgressOwnErrorDropsNoTagAndChangesNothing) {
  TempDir dir;
  MakeTable(dir, Kind::kFox);
  const auto plan = [](KXO_dBHandler& t) {
    TkxRebuildPlan p = SameFieldsPlan(t);
    p.fields.push_back(TkxRebuildField{"EXTRA", 'C', 4, 0, 0});
    return p;
  };
  int steps = 0;
  {
    TempDir dry;
    CopyDir(dir.Path(), dry.Path());
    RecordingProgress all;
    KXO_dBHandler t(dry.File("t.dbf"), true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    t.SetProgress(&all);
    RebuildTable(t, plan(t));
    steps = all.steps;
  }
  const auto before = Snapshot(dir.Path());
  {
    RaisingProgress progress(steps);  // the last step: inside the last tag's build
    KXO_dBHandler t(dir.File("t.dbf"), true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    t.SetProgress(&progress);
    EXPECT_THROW(RebuildTable(t, plan(t)), std::runtime_error);
    EXPECT_EQ(progress.open, 0);
  }
  EXPECT_TRUE(Snapshot(dir.Path()) == before);
}

TEST(ProgressCancel, ZapReportsButIsNotStoppedHalfWay) {
  TempDir dir;
  MakeTable(dir, Kind::kFox);
  {
    RecordingProgress progress(1);
    KXO_dBHandler t(dir.File("t.dbf"), true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    t.SetProgress(&progress);
    t.Zap();
    EXPECT_EQ(t.RecordCount(), 0);
    EXPECT_FALSE(progress.kinds.empty()) << "the emptying of the indexes is reported";
    EXPECT_EQ(progress.open, 0);
    EXPECT_EQ(t.Progress(), &progress);
  }
  ExpectTableReads(dir.File("t.dbf"), 0);
}

TEST(ProgressCancel, TextSearchStopsAndKeepsThePosition) {
  TempDir dir;
  MakeTable(dir, Kind::kFox);
  KXO_dBHandler t(dir.File("t.dbf"), false, false);
  RecordingProgress all;
  t.SetProgress(&all);
  int32_t field = 1;
  int32_t recno = 0;
  EXPECT_FALSE(t.SearchText("NOWHERE", field, false, 0, recno));
  EXPECT_EQ(all.kinds, std::vector<int32_t>{kStatusSearch});
  ASSERT_GE(all.steps, 2);
  RecordingProgress stop(2);
  t.SetProgress(&stop);
  t.GetRecord(17);
  recno = 17;
  EXPECT_THROW(t.SearchText("NOWHERE", field, false, 0, recno), ETolvernCancelled);
  EXPECT_EQ(stop.steps, 2);
  EXPECT_EQ(stop.open, 0);
  EXPECT_EQ(t.CurrentRecord(), 17);
}

TEST(ProgressCancel, APackThatRunsToItsEndLeavesAWorkingTableObject) {
  for (Kind kind : {Kind::kFox, Kind::kDb4}) {
    SCOPED_TRACE(kind == Kind::kFox ? "FoxPro" : "dBase IV");
    TempDir dir;
    MakeTable(dir, kind);
    const std::string table = dir.File("t.dbf");
    RecordingProgress progress;
    KXO_dBHandler t(table, true, false);
    ASSERT_TRUE(t.OpenProductionIndex());
    ASSERT_GT(t.SelectOrder("NAME", false), 0);
    t.SetProgress(&progress);
    t.Pack();
    EXPECT_EQ(progress.kinds.front(), kStatusPack);
    EXPECT_EQ(progress.open, 0);
    EXPECT_TRUE(fs::exists(table));
    EXPECT_FALSE(fs::exists(ReplaceJournalPath(table)));
    EXPECT_FALSE(fs::exists(ReplaceStagingDirectory(dir.Path().string(), table)));
    // The object reads the packed file, in the order it had, with its memos.
    EXPECT_EQ(t.RecordCount(), LiveRecords());
    EXPECT_EQ(t.CurrentOrderName(), "NAME");
    EXPECT_TRUE(t.AutoLockProtocol()) << "the protocol still follows what is open";
    EXPECT_EQ(t.LockProtocol(), t.ChooseLockProtocol());
    int memos = 0;
    for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) {
      std::vector<uint8_t> data;
      if (t.MemoSize(3) > 0 && t.ReadMemo(3, data)) {
        const std::string text(data.begin(), data.end());
        EXPECT_EQ(text.rfind("memo of record ", 0), 0u) << text.substr(0, 30);
        ++memos;
      }
    }
    EXPECT_EQ(memos, kRecords / 3 - kRecords / 15);
    // A record appended afterwards reaches the reopened index.
    t.BlankBuffer();
    t.PutFieldByName("NAME", "A000000");
    t.AppendRecord();
    EXPECT_TRUE(t.FindKey("A000000"));
    EXPECT_EQ(t.CurrentRecord(), LiveRecords() + 1);
  }
  // A table object that reads only packs nothing.
  TempDir dir;
  MakeTable(dir, Kind::kFox);
  const auto before = Snapshot(dir.Path());
  {
    KXO_dBHandler t(dir.File("t.dbf"), false, false);
    EXPECT_THROW(t.Pack(), ETolvernError);
  }
  EXPECT_TRUE(Snapshot(dir.Path()) == before);
}

// --- Peers --------------------------------------------------------------------------

std::string HbVerify() { return (SharedDir() / "peers/bin/hb-verify").string(); }

int VerifyTag(const std::string& table, const std::string& index, const std::string& tag,
              const std::string& driver, std::string* report) {
  return RunCommand("'" + HbVerify() + "' '" + table + "' '" + index + "' " + tag +
                        " --rdd=" + driver + " --check --nowalk 2>&1",
                    report);
}

TEST(ProgressCancel, PeersReadThePackedTableAndItsIndexes) {
  REQUIRE_SHARED();
  TempDir dir;
  ASSERT_TRUE(fendral::test::MakePeerTables(dir, 21, 300, "fox_memo"));
  const std::string table = dir.File("fox_memo.dbf");
  const std::string cdx = dir.File("fox_memo.cdx");
  const std::string ntx = dir.File("city.ntx");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(cdx, "NAME", 0, true, "", "NAME");
    t.IndexOn(ntx, "", 0, true, "", "CITY");
  }
  // A cancelled pack leaves indexes the legacy program accepts.
  for (int stopAt : {1, 3}) {
    RecordingProgress progress(stopAt);
    KXO_dBHandler t(table, true, false);
    ASSERT_EQ(t.OpenIndexFile(cdx), 0);
    ASSERT_EQ(t.OpenIndexFile(ntx), 0);
    t.SetProgress(&progress);
    EXPECT_THROW(t.Pack(), ETolvernCancelled);
  }
  std::string report;
  EXPECT_EQ(VerifyTag(table, cdx, "NAME", "DBFCDX", &report), 0) << report;
  EXPECT_EQ(VerifyTag(table, ntx, "CITY", "DBFNTX", &report), 0) << report;
  EXPECT_EQ(fendral::test::PeerCheck(dir.File("fox_memo.expected.json"), table), 0);
  {
    RecordingProgress progress;
    KXO_dBHandler t(table, true, false);
    ASSERT_EQ(t.OpenIndexFile(cdx), 0);
    ASSERT_EQ(t.OpenIndexFile(ntx), 0);
    t.SetProgress(&progress);
    t.Pack();
  }
  ASSERT_TRUE(
      fendral::test::EditExpected(dir.File("fox_memo.expected.json"), dir.File("packed.json"),
                                  "e['records']=[r for r in e['records'] if not r['deleted']]\n"
                                  "for i, r in enumerate(e['records']): r['recno']=i+1\n"));
  EXPECT_EQ(fendral::test::PeerCheck(dir.File("packed.json"), table), 0);
  EXPECT_EQ(VerifyTag(table, cdx, "NAME", "DBFCDX", &report), 0) << report;
  EXPECT_EQ(VerifyTag(table, ntx, "CITY", "DBFNTX", &report), 0) << report;
}

}  // namespace
}  // namespace tolvern
