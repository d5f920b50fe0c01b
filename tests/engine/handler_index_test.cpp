// The table handler with index files: order selection, seeks, ranges, and every open index
// of every format kept current by writes through the handler.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "kx6_build.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_indx.h"
#include "kx6_tool.h"
#include "platform/pf_path.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::TempDir;

// Joins two texts (written out, as "literal" + std::string trips a compiler warning).
std::string Cat(std::string a, const std::string& b) {
  a += b;
  return a;
}

// NAME C 12, AMOUNT N 8 2, BORN D; records appended through the handler.
std::string MakeTable(const TempDir& dir, const std::string& file, int records, uint32_t seed,
                      bool fox = true) {
  const std::string path = dir.File(file);
  {
    std::unique_ptr<KXO_DBFBuild> builder;
    if (fox) {
      builder = std::make_unique<KXO_DBFoxBuild>(path);
    } else {
      builder = std::make_unique<KXO_DB4Build>(path);
    }
    builder->AddField("NAME", 'C', 12, 0);
    builder->AddField("AMOUNT", 'N', 8, 2);
    builder->AddField("BORN", 'D', 8, 0);
    builder->WriteTable();
  }
  std::mt19937 rng(seed);
  KXO_dBHandler t(path, true, false);
  for (int i = 0; i < records; ++i) {
    t.BlankRecord();
    t.PutFieldByName("NAME", std::string(1, static_cast<char>('A' + rng() % 26)) +
                                 std::to_string(rng() % 1000));
    t.PutNumberByName("AMOUNT", static_cast<double>(rng() % 200000) / 100.0 - 500);
    t.PutFieldByName("BORN", std::to_string(1950 + rng() % 60) + "0" +
                                 std::to_string(1 + rng() % 9) + "1" + std::to_string(rng() % 9));
    t.AppendRecord();
  }
  return path;
}

// The keys of a tag from top to bottom: the key's bytes and the record number.
std::vector<std::pair<std::string, int32_t>> Walk(KXobjIndexTag& tag) {
  std::vector<std::pair<std::string, int32_t>> keys;
  for (int32_t r = tag.Goto(PosTop); r > 0 && !tag.Eof(); r = tag.Goto(PosNext)) {
    const auto& key = tag.CurrentKey();
    keys.emplace_back(std::string(reinterpret_cast<const char*>(key.Data()),
                                  static_cast<size_t>(key.Length())),
                      r);
    if (keys.size() > 100000) break;
  }
  return keys;
}

std::vector<int32_t> RecordsInOrder(KXO_dBHandler& t) {
  std::vector<int32_t> seen;
  for (t.GetRecord(PosTop); !t.Eof(); t.GetRecord(PosNext)) seen.push_back(t.CurrentRecord());
  return seen;
}

struct IndexDef {
  std::string file;
  std::string tag;
  std::string key;
  std::string forExpr;
  int sort;  // 0 ascending, 1 descending
  bool unique;
};

TEST(HandlerIndexes, EveryOpenIndexFollowsRandomWrites) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", 300, 7);
  const std::vector<IndexDef> defs = {
      {"name.ntx", "", "NAME", "", 0, false},
      {"amount.ndx", "", "AMOUNT", "", 0, false},
      {"t.cdx", "NAME", "UPPER(NAME)", "", 0, false},
      {"t.cdx", "AMTD", "AMOUNT", "AMOUNT > 0", 1, false},
      {"t.cdx", "BORN", "BORN", "", 0, true},
      {"born.ntx", "", "DTOS(BORN)+NAME", "", 1, false},
      {"t.mdx", "AMT", "AMOUNT", "", 1, false},
      {"t.mdx", "NAMEBORN", "NAME+DTOS(BORN)", "AMOUNT < 400", 0, false},
  };
  {
    KXO_dBHandler t(path, true, false);
    for (const auto& s : defs) t.IndexOn(s.file, s.tag, s.sort, !s.unique, s.forExpr, s.key);
  }
  std::mt19937 rng(11);
  {
    KXO_dBHandler t(path, true, false);
    for (const char* f : {"name.ntx", "amount.ndx", "t.cdx", "born.ntx", "t.mdx"})
      ASSERT_EQ(t.OpenIndexFile(f), 0) << f;
    for (int step = 0; step < 600; ++step) {
      const int what = static_cast<int>(rng() % 10);
      if (what < 3) {
        t.BlankRecord();
        t.PutFieldByName("NAME", Cat("N", std::to_string(rng() % 500)));
        t.PutNumberByName("AMOUNT", static_cast<double>(rng() % 100000) / 100.0 - 200);
        t.PutFieldByName("BORN", "19" + std::to_string(50 + rng() % 49) + "0612");
        t.AppendRecord();
      } else {
        const int32_t r = 1 + static_cast<int32_t>(rng() % t.RecordCount());
        t.GetRecord(r);
        if (what < 7) {
          t.PutFieldByName("NAME", Cat("R", std::to_string(rng() % 700)));
          if (rng() % 2) t.PutNumberByName("AMOUNT", static_cast<double>(rng() % 5000) - 2500);
          t.PutRecord(r);
        } else if (what < 9) {
          t.DeleteRecord();
        } else {
          t.RecallRecord();
        }
      }
    }
    t.FlushFile();
  }
  // Each maintained tag equals a tag built afresh from the final table.
  KXO_dBHandler t(path, true, false);
  for (size_t i = 0; i < defs.size(); ++i) {
    const IndexDef& s = defs[i];
    const std::string freshFile =
        Cat("fresh", std::to_string(i)) + platform::ExtensionOf(s.file);
    t.IndexOn(freshFile, s.tag.empty() ? "" : s.tag, s.sort, !s.unique, s.forExpr, s.key);
    ASSERT_EQ(t.OpenIndexFile(s.file), 0);
    ASSERT_EQ(t.OpenIndexFile(freshFile), 0);
    KXobjIndexTag* kept = t.IndexFile(1)->TagCount() == 1 ? t.IndexFile(1)->TagAt(0)
                                                           : t.IndexFile(1)->TagByName(s.tag);
    KXobjIndexTag* fresh = t.IndexFile(2)->TagAt(0);
    ASSERT_NE(kept, nullptr);
    ASSERT_NE(fresh, nullptr);
    auto a = Walk(*kept);
    auto b = Walk(*fresh);
    if (!t.IndexFile(1)->KeysByRecNo()) {
      // Equal keys keep their insertion order in these formats, while a build lists them
      // by record number: the key sequence must match, and each key's records.
      std::vector<std::string> keysA, keysB;
      for (const auto& k : a) keysA.push_back(k.first);
      for (const auto& k : b) keysB.push_back(k.first);
      EXPECT_TRUE(keysA == keysB) << s.file << ": key order differs";
      std::sort(a.begin(), a.end());
      std::sort(b.begin(), b.end());
    }
    EXPECT_EQ(a.size(), b.size()) << s.file << " " << s.tag;
    size_t firstDiff = 0;
    while (firstDiff < std::min(a.size(), b.size()) && a[firstDiff] == b[firstDiff]) ++firstDiff;
    EXPECT_EQ(firstDiff, std::max(a.size(), b.size()))
        << s.file << " " << s.tag << ": first difference at key " << firstDiff
        << (firstDiff < std::min(a.size(), b.size())
                ? " (" + a[firstDiff].first + "/" + std::to_string(a[firstDiff].second) +
                      " vs " + b[firstDiff].first + "/" + std::to_string(b[firstDiff].second) +
                      ")"
                : std::string());
    t.CloseAllIndexes();
  }
}

TEST(HandlerIndexes, OrderSeekAndRange) {
  TempDir dir;
  const std::string path = dir.File("p.dbf");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.AddField("AGE", 'N', 3, 0);
    builder.WriteTable();
  }
  KXO_dBHandler t(path, true, false);
  const std::vector<std::pair<std::string, int>> rows = {
      {"SMITHSON", 40}, {"ADAMS", 31}, {"SMITH", 22}, {"BAKER", 58}, {"SMITH", 19}, {"ZORN", 70}};
  for (const auto& [name, age] : rows) {
    t.BlankRecord();
    t.PutFieldByName("NAME", name);
    t.PutNumberByName("AGE", age);
    t.AppendRecord();
  }
  t.IndexOn("p.ntx", "", 0, true, "", "NAME");
  ASSERT_EQ(t.OpenIndexList("p.ntx", "P"), 0);
  EXPECT_EQ(t.CurrentOrderName(), "P");
  EXPECT_EQ(RecordsInOrder(t), (std::vector<int32_t>{2, 4, 3, 5, 1, 6}));

  EXPECT_TRUE(t.FindKey("SMITH"));
  EXPECT_EQ(t.CurrentRecord(), 3);
  EXPECT_TRUE(t.FindKey("SM")) << "a partial key finds the first that begins with it";
  t.SetExactMatch(true);
  EXPECT_FALSE(t.FindKey("SM"));
  EXPECT_TRUE(t.Eof());
  EXPECT_EQ(t.CurrentRecord(), 6) << "a failed seek stands on the last record";
  t.SetExactMatch(false);
  t.SoftSeek = true;
  EXPECT_FALSE(t.FindKey("C"));
  EXPECT_EQ(t.CurrentRecord(), 3) << "soft seek stops on the next greater key";
  t.SoftSeek = false;

  EXPECT_EQ(t.FindKeyInTag("P", "ZORN"), 6);
  EXPECT_EQ(t.FindKeyInTag("P", "NOBODY"), -1);
  EXPECT_EQ(t.FindKeyInTag("NOTAG", "ZORN"), -1);

  t.SetRange("SMITH", "SMITH");
  EXPECT_EQ(RecordsInOrder(t), (std::vector<int32_t>{3, 5, 1}))
      << "keys that begin with the limit are inside it";
  t.ClearRange();
  EXPECT_EQ(RecordsInOrder(t).size(), 6u);

  EXPECT_EQ(t.SelectOrder("", false), 0);
  EXPECT_EQ(RecordsInOrder(t), (std::vector<int32_t>{1, 2, 3, 4, 5, 6}));
  EXPECT_THROW(t.SelectOrder("MISSING", true), ETolvernError);
  EXPECT_EQ(t.OpenIndexFile("p.ntx"), -1) << "a file opens once";
}

// Equal keys in every format and direction: a seek lands on the first entry of its key in
// the order the tag is walked, a partial key on the first entry that begins with it, and a
// range of one key holds every record of that key.
TEST(HandlerIndexes, SeeksLandOnTheFirstOfEqualKeysInWalkOrder) {
  TempDir dir;
  const std::string path = dir.File("d.dbf");
  {
    KXO_DBFBuild builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.WriteTable();
  }
  const std::vector<std::string> names = {"SMITH", "ADAMS", "SMITH", "ZORN",  "SMITHSON",
                                          "SMITH", "BAKER", "ADAMS", "SMITH", "ZORN"};
  {
    KXO_dBHandler t(path, true, false);
    for (const std::string& name : names) {
      t.BlankRecord();
      t.PutFieldByName("NAME", name);
      t.AppendRecord();
    }
  }
  struct Case {
    std::string file;
    std::string tag;
    int sort;
  };
  const std::vector<Case> cases = {{"a.ndx", "A", 0},   {"a.ntx", "A", 0},    {"d.ntx", "D", 1},
                                   {"x.cdx", "ASC", 0}, {"x.cdx", "DESC", 1}, {"x.mdx", "ASC", 0},
                                   {"x.mdx", "DESC", 1}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file + " " + c.tag);
    KXO_dBHandler t(path, true, false);
    ASSERT_EQ(t.IndexOn(c.file, c.tag, c.sort, true, "", "NAME"), 0);
    t.OpenIndexFile(c.file);
    ASSERT_EQ(t.SelectOrder(c.tag, false), t.IndexFileCount());
    const std::vector<int32_t> walk = RecordsInOrder(t);
    ASSERT_EQ(walk.size(), names.size());
    auto recordsOf = [&](const std::string& prefix, bool exact) {
      std::vector<int32_t> out;
      for (int32_t r : walk) {
        const std::string& n = names[static_cast<size_t>(r - 1)];
        if (exact ? n == prefix : n.rfind(prefix, 0) == 0) out.push_back(r);
      }
      return out;
    };
    for (const std::string key : {"SMITH", "ADAMS", "ZORN", "SMITHSON", "BAKER"}) {
      t.SetExactMatch(true);
      EXPECT_TRUE(t.FindKey(key)) << key;
      EXPECT_EQ(t.CurrentRecord(), recordsOf(key, true).front()) << key;
      t.SetRange(key, key);
      t.SetExactMatch(false);
      EXPECT_EQ(RecordsInOrder(t), recordsOf(key, false)) << key;
      t.ClearRange();
    }
    t.SetExactMatch(false);
    EXPECT_TRUE(t.FindKey("SM"));
    EXPECT_EQ(t.CurrentRecord(), recordsOf("SM", false).front());
    EXPECT_EQ(t.FindKeyInTag(c.tag, "SMITH"), recordsOf("SMITH", true).front());
  }
}

// Index files are told apart by their canonical paths, not by their bare names.
TEST(HandlerIndexes, SameNamedIndexFilesInTwoDirectoriesAreBothOpenAndKeptCurrent) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", 20, 11);
  std::filesystem::create_directory(dir.File("other"));
  {
    KXO_dBHandler t(path, true, false);
    ASSERT_EQ(t.IndexOn(dir.File("k.ntx"), "", 0, true, "", "NAME"), 0);
    ASSERT_EQ(t.IndexOn(dir.File("other/k.ntx"), "", 0, true, "", "AMOUNT"), 0);
  }
  KXO_dBHandler t(path, true, false);
  ASSERT_EQ(t.OpenIndexFile(dir.File("k.ntx")), 0);
  EXPECT_EQ(t.OpenIndexFile(dir.File("other/k.ntx")), 0) << "another file of the same name";
  EXPECT_EQ(t.IndexFileCount(), 2);
  EXPECT_EQ(t.OpenIndexFile(dir.File("other/../k.ntx")), -1) << "the same file again";
  std::filesystem::create_symlink(dir.File("other"), dir.File("link"));
  EXPECT_EQ(t.OpenIndexFile(dir.File("link/k.ntx")), -1) << "the same file through a link";
  EXPECT_EQ(t.IndexFileCount(), 2);

  t.BlankRecord();
  t.PutFieldByName("NAME", "0");
  t.PutNumberByName("AMOUNT", -999);
  t.AppendRecord();
  for (int slot : {1, 2}) {
    ASSERT_NE(t.IndexFile(slot), nullptr) << "slot " << slot;
    KXobjIndexTag* tag = t.IndexFile(slot)->TagAt(0);
    ASSERT_NE(tag, nullptr);
    EXPECT_EQ(tag->Goto(PosTop), 21) << "slot " << slot << " holds the new record first";
    EXPECT_EQ(Walk(*tag).size(), 21u);
  }
  EXPECT_EQ(t.CloseIndexFile(dir.File("other/k.ntx")), 0);
  EXPECT_EQ(t.IndexFileCount(), 1);
  EXPECT_EQ(t.IndexFile(1)->TagAt(0)->KeyExprText(), "NAME");
}

TEST(HandlerIndexes, PackAndZapRebuildTheOpenIndexes) {
  TempDir dir;
  const std::string path = MakeTable(dir, "t.dbf", 50, 3, false);
  KXO_dBHandler t(path, true, false);
  t.IndexOn("t.mdx", "NAME", 0, true, "", "NAME");
  ASSERT_EQ(t.OpenIndexFile("t.mdx"), 0);
  t.SelectOrder("NAME", false);
  for (int r = 1; r <= 50; r += 3) {
    t.GetRecord(r);
    t.DeleteRecord();
  }
  t.Pack();
  EXPECT_EQ(t.RecordCount(), 33);
  KXobjIndexTag* tag = t.TagByName("NAME");
  ASSERT_NE(tag, nullptr);
  EXPECT_EQ(Walk(*tag).size(), 33u);
  EXPECT_EQ(RecordsInOrder(t).size(), 33u);
  t.Zap();
  EXPECT_EQ(t.RecordCount(), 0);
  EXPECT_EQ(Walk(*t.TagByName("NAME")).size(), 0u);
}


}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

// Two processes share one table: a record lock held by one makes the other's lock fail at
// once, and appends from both, each under the append lock, lose no record and keep the
// shared index whole.
TEST(HandlerSharing, TwoProcessesAppendUnderLocks) {
  TempDir dir;
  const std::string path = MakeTable(dir, "s.dbf", 20, 5);
  {
    KXO_dBHandler t(path, true, false);
    t.IndexOn("s.ntx", "", 0, true, "", "NAME");
  }
  int ready[2];
  int go[2];
  ASSERT_EQ(pipe(ready), 0);
  ASSERT_EQ(pipe(go), 0);
  constexpr int kEach = 300;
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    int status = 0;
    try {
      KXO_dBHandler t(path, true, true);
      t.OpenIndexFile("s.ntx");
      t.GetRecord(3);
      const bool locked = t.LockRecord();
      char c = locked ? 'L' : 'E';
      (void)!write(ready[1], &c, 1);
      (void)!read(go[0], &c, 1);
      t.UnlockRegion();
      for (int i = 0; i < kEach; ++i) {
        t.BlankRecord();
        t.PutFieldByName("NAME", Cat("CHILD", std::to_string(i)));
        t.AppendRecord();
      }
    } catch (...) {
      status = 1;
    }
    _exit(status);
  }
  char c = 0;
  ASSERT_EQ(read(ready[0], &c, 1), 1);
  ASSERT_EQ(c, 'L');
  {
    KXO_dBHandler t(path, true, true);
    ASSERT_EQ(t.OpenIndexFile("s.ntx"), 0);
    t.GetRecord(3);
    EXPECT_FALSE(t.LockRecord()) << "the other process holds record 3";
    t.GetRecord(4);
    EXPECT_TRUE(t.LockRecord());
    t.UnlockRegion();
    (void)!write(go[1], "g", 1);
    for (int i = 0; i < kEach; ++i) {
      t.BlankRecord();
      t.PutFieldByName("NAME", Cat("PARENT", std::to_string(i)));
      t.AppendRecord();
    }
  }
  int status = 0;
  waitpid(child, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 0);
  for (int fd : {ready[0], ready[1], go[0], go[1]}) close(fd);

  KXO_dBHandler t(path, true, false);
  EXPECT_EQ(t.RecordCount(), 20 + 2 * kEach);
  ASSERT_EQ(t.OpenIndexFile("s.ntx"), 0);
  auto kept = Walk(*t.IndexFile(1)->TagAt(0));
  t.IndexOn("fresh.ntx", "", 0, true, "", "NAME");
  ASSERT_EQ(t.OpenIndexFile("fresh.ntx"), 0);
  auto fresh = Walk(*t.IndexFile(1)->TagAt(0));
  std::sort(kept.begin(), kept.end());
  std::sort(fresh.begin(), fresh.end());
  EXPECT_EQ(kept.size(), fresh.size());
  EXPECT_TRUE(kept == fresh);
}


}  // namespace
}  // namespace tolvern

namespace tolvern {
namespace {

TEST(HandlerIndexes, DeleteTagClosesAnEmptiedFile) {
  TempDir dir;
  const std::string path = MakeTable(dir, "d.dbf", 20, 9);
  KXO_dBHandler t(path, true, false);
  t.IndexOn("d.cdx", "NAME", 0, true, "", "NAME");
  t.IndexOn("d.cdx", "AMT", 0, true, "", "AMOUNT");
  ASSERT_EQ(t.OpenIndexFile("d.cdx"), 0);
  t.SelectOrder("NAME", false);
  EXPECT_EQ(t.DeleteTag("", "NAME"), 0);
  EXPECT_EQ(t.CurrentOrder(), nullptr) << "the deleted order gave way to natural order";
  EXPECT_EQ(t.TagByName("NAME"), nullptr);
  EXPECT_EQ(t.DeleteTag("", "NAME"), 1);
  EXPECT_EQ(t.DeleteTag("", "AMT"), 0);
  EXPECT_EQ(t.IndexFileCount(), 0) << "a file without tags is closed";
}


// An index describes the stored table: records the table is shown without (deleted ones
// hidden, a filter) still get their keys, in every format, built new or rebuilt.
TEST(HandlerIndexes, BuildsKeyEveryStoredRecordWhateverTheTableShows) {
  TempDir dir;
  const std::string path = MakeTable(dir, "h.dbf", 40, 11);
  KXO_dBHandler t(path, true, false);
  for (int recno : {3, 17, 40}) {
    t.GetRecord(recno);
    t.DeleteRecord();
  }
  t.SetShowDeleted(false);
  t.SetFilterExpression("AMOUNT > 0");
  t.SetFilterActive(true);
  for (const std::string file : {"h.ntx", "h.ndx", "h.cdx", "h.mdx"}) {
    SCOPED_TRACE(file);
    ASSERT_EQ(t.IndexOn(file, "NAME", 0, true, "", "NAME"), 0);
    ASSERT_EQ(t.OpenIndexFile(file), 0);
    t.ReindexAll();
    KXobjIndexTag* tag = t.TagByName(file.find(".n") != std::string::npos ? "H" : "NAME");
    ASSERT_NE(tag, nullptr);
    std::vector<int32_t> keyed;
    for (int32_t r = tag->Goto(PosTop); !tag->Eof(); r = tag->Goto(PosNext)) keyed.push_back(r);
    std::sort(keyed.begin(), keyed.end());
    EXPECT_EQ(keyed.size(), 40u);
    EXPECT_TRUE(std::adjacent_find(keyed.begin(), keyed.end()) == keyed.end());
    t.CloseAllIndexes();
  }
}

}  // namespace
}  // namespace tolvern
