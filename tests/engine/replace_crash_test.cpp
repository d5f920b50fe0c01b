// A replacement stopped after each of its file operations in turn: opening the table
// afterwards finishes or undoes it, and the table under its name is the whole old table or
// the whole new one, records, memos and indexes, as other programs read it.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <functional>
#include <string>

#include "kx6_build.h"
#include "kx6_cpage.h"
#include "kx6_dbsy.h"
#include "kx6_eror.h"
#include "kx6_journal.h"
#include "kx6_rebuild.h"
#include "platform/pf_file.h"
#include "platform/pf_misc.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
namespace fs = std::filesystem;

std::string Peers() { return (SharedDir() / "peers").string(); }

bool PeerEqual(const std::string& expected, const std::string& table) {
  std::string report;  // a table that is the other one is expected: nothing to show
  return fendral::test::PeerCheck(expected, table, &report) == 0;
}

int PeerKeyCount(const std::string& index, const std::string& table, const std::string& tag) {
  std::string out;
  if (RunCommand("perl '" + Peers() + "/dump_table.pl' --index '" + index + "' --tag " + tag +
                     " --type char '" + table + "' 2>/dev/null",
                 &out) != 0)
    return -1;
  int lines = 0;
  for (char c : out) lines += c == '\n';
  return lines;
}

// `expected` with field `name` blank in every record and, when given, another code page.
void Derive(const std::string& expected, const std::string& out, const std::string& name,
            const std::string& codepage) {
  std::string edit;
  if (!name.empty()) edit += "for r in e['records']: r['fields']['" + name + "']=''\n";
  if (!codepage.empty()) edit += "e['codepage']='" + codepage + "'\n";
  ASSERT_TRUE(fendral::test::EditExpected(expected, out, edit));
}

void CopyFiles(const fs::path& from, const fs::path& to) {
  for (const auto& e : fs::directory_iterator(to)) fs::remove_all(e.path());
  for (const auto& e : fs::directory_iterator(from))
    fs::copy_file(e.path(), to / e.path().filename());
}

// Runs `replace` in a child process stopped after `step` file operations; answers
// whether the child ran to its end.
bool RunStopped(int step, const std::function<void()>& replace) {
  const pid_t pid = fork();
  if (pid == 0) {
    // The parent may have read the hook already: the forked child sets it directly.
    platform::SetStopAfterFileOps(step);
    try {
      replace();
    } catch (...) {
      _exit(1);
    }
    _exit(0);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  EXPECT_TRUE(WIFEXITED(status));
  const int code = WEXITSTATUS(status);
  EXPECT_TRUE(code == 0 || code == kReplaceStopExitCode) << "child ended with " << code;
  return code == 0;
}

struct Scenario {
  std::string table;  // file name in the work directory
  std::string oldExpected;
  std::string newExpected;
  std::function<TkxRebuildPlan(KXO_dBHandler&)> plan;
  std::vector<std::string> indexes;  // opened before the replacement
  // The work that replaces the table; without it, the rebuild by `plan`.
  std::function<void(KXO_dBHandler&)> work;
  int newRecords = 40;  // the records of the new table
};

void StopAtEveryStep(const TempDir& pristine, const Scenario& s) {
  TempDir work;
  const std::string table = work.File(s.table);
  int oldSeen = 0;
  int newSeen = 0;
  bool finished = false;
  for (int step = 1; step < 200 && !finished; ++step) {
    SCOPED_TRACE("stopped after file operation " + std::to_string(step));
    CopyFiles(pristine.Path(), work.Path());
    finished = RunStopped(step, [&] {
      KXO_dBHandler t(table, true, false);
      for (const auto& f : s.indexes)
        if (t.OpenIndexFile(work.File(f)) != 0) _exit(2);
      if (s.work) {
        s.work(t);
      } else {
        RebuildTable(t, s.plan(t));
      }
    });
    // Opening the table finishes or undoes what the child left.
    { KXO_dBHandler t(table, false, false); }
    EXPECT_FALSE(fs::exists(ReplaceJournalPath(table)));
    EXPECT_FALSE(fs::exists(ReplaceStagingDirectory(work.Path().string(), table)));
    const bool isOld = PeerEqual(s.oldExpected, table);
    const bool isNew = !isOld && PeerEqual(s.newExpected, table);
    EXPECT_TRUE(isOld || isNew) << "the table is neither the old one nor the new one";
    oldSeen += isOld;
    newSeen += isNew;
    if (finished) {
      EXPECT_TRUE(isNew);
    }
    for (const auto& f : s.indexes) {
      if (fs::path(f).extension() == ".cdx") {
        EXPECT_EQ(PeerKeyCount(work.File(f), table, "NAME"), isNew ? s.newRecords : 40) << f;
      }
    }
  }
  EXPECT_TRUE(finished) << "the replacement never ran to its end";
  EXPECT_GT(oldSeen, 3);
  EXPECT_GT(newSeen, 3);
}

TEST(ReplaceCrash, ModifyStoppedAtEveryStepLeavesTheOldOrTheNewTable) {
  REQUIRE_SHARED();
  TempDir pristine;
  ASSERT_TRUE(fendral::test::MakePeerTables(pristine, 11, 40, "fox_memo"));
  const std::string table = pristine.File("fox_memo.dbf");
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(pristine.File("fox_memo.cdx"), "NAME", 0, true, "", "NAME");
    t.IndexOn(pristine.File("fox_memo.cdx"), "CITY", 0, true, "", "CITY");
  }
  Derive(pristine.File("fox_memo.expected.json"), pristine.File("new.json"), "EXTRA", "");
  Scenario s;
  s.table = "fox_memo.dbf";
  s.oldExpected = pristine.File("fox_memo.expected.json");
  s.newExpected = pristine.File("new.json");
  s.indexes = {"fox_memo.cdx"};
  s.plan = [](KXO_dBHandler& t) {
    TkxRebuildPlan plan = SameFieldsPlan(t);
    plan.fields.insert(plan.fields.begin() + 1, TkxRebuildField{"EXTRA", 'C', 7, 0, 0});
    return plan;
  };
  StopAtEveryStep(pristine, s);
}

TEST(ReplaceCrash, ConvertStoppedAtEveryStepLeavesTheOldOrTheNewTable) {
  REQUIRE_SHARED();
  TempDir pristine;
  ASSERT_TRUE(fendral::test::MakePeerTables(pristine, 12, 40, "db3_memo"));
  Derive(pristine.File("db3_memo.expected.json"), pristine.File("new.json"), "", "cp1251");
  Scenario s;
  s.table = "db3_memo.dbf";
  s.oldExpected = pristine.File("db3_memo.expected.json");
  s.newExpected = pristine.File("new.json");
  s.plan = [](KXO_dBHandler& t) {
    TkxRebuildPlan plan = SameFieldsPlan(t);
    plan.fromCodePage = "CP866";
    plan.toCodePage = "CP1251";
    plan.languageMark = *MarkOfCodePage("CP1251");
    return plan;
  };
  StopAtEveryStep(pristine, s);
}

TEST(ReplaceCrash, PackStoppedAtEveryStepLeavesTheOldOrTheNewTable) {
  REQUIRE_SHARED();
  TempDir pristine;
  ASSERT_TRUE(fendral::test::MakePeerTables(pristine, 13, 40, "fox_memo"));
  const std::string table = pristine.File("fox_memo.dbf");
  int live = 0;
  {
    KXO_dBHandler t(table, true, false);
    t.IndexOn(pristine.File("fox_memo.cdx"), "NAME", 0, true, "", "NAME");
    t.IndexOn(pristine.File("fox_memo.cdx"), "CITY", 0, true, "", "CITY");
    for (int32_t j = 1; j <= t.RecordCount(); ++j) {
      t.GetRecord(j);
      live += !t.IsDeleted();
    }
  }
  ASSERT_LT(live, 40) << "the peers' table has deleted records";
  ASSERT_TRUE(fendral::test::EditExpected(
      pristine.File("fox_memo.expected.json"), pristine.File("new.json"),
      "e['records']=[r for r in e['records'] if not r['deleted']]\n"
      "for i, r in enumerate(e['records']): r['recno']=i+1\n"));
  Scenario s;
  s.table = "fox_memo.dbf";
  s.oldExpected = pristine.File("fox_memo.expected.json");
  s.newExpected = pristine.File("new.json");
  s.indexes = {"fox_memo.cdx"};
  s.work = [](KXO_dBHandler& t) { t.Pack(); };
  s.newRecords = live;
  StopAtEveryStep(pristine, s);
}

// A plain table file for the journal tests.
std::string SmallTable(const TempDir& dir) {
  const std::string path = dir.File("t.dbf");
  KXO_DBFBuild b(path);
  b.AddField("NAME", 'C', 8, 0);
  b.WriteTable();
  return path;
}

TEST(ReplaceJournal, MovesThatLeadOutsideTheReplacementAreRefused) {
  TempDir dir;
  TempDir elsewhere;
  const std::string table = SmallTable(dir);
  const std::string stage = ReplaceStagingDirectory(dir.Path().string(), table);
  fs::create_directory(stage);
  fendral::test::WriteText(stage + "/t.dbf", "staged");
  fendral::test::WriteText(elsewhere.File("victim.txt"), "keep me");
  // A committed journal whose move would put a file over one in another directory.
  fendral::test::WriteText(ReplaceJournalPath(table), "FENDRAL-REPLACE 1\nCOMMIT\nSTAGE " + stage +
                                                          "\nMOVE " + stage + "/t.dbf\t" +
                                                          elsewhere.File("victim.txt") + "\nEND\n");
  EXPECT_THROW(KXO_dBHandler(table, false, false), ETolvernError);
  EXPECT_EQ(fendral::test::ReadText(elsewhere.File("victim.txt")), "keep me");
  EXPECT_TRUE(fs::exists(ReplaceJournalPath(table))) << "kept for a person to look at";
}

TEST(ReplaceJournal, AnUncommittedJournalRemovesOnlyItsOwnStagingDirectory) {
  TempDir dir;
  TempDir elsewhere;
  const std::string table = SmallTable(dir);
  const auto before = fendral::test::ReadBytes(table);
  fendral::test::WriteText(elsewhere.File("victim.txt"), "keep me");
  // The staging directory is a link to another directory: it is not emptied.
  const std::string stage = ReplaceStagingDirectory(dir.Path().string(), table);
  fs::create_directory_symlink(elsewhere.Path(), stage);
  fendral::test::WriteText(ReplaceJournalPath(table),
                           "FENDRAL-REPLACE 1\nPREPARE\nSTAGE " + stage + "\nSTAGE /tmp\nEND\n");
  { KXO_dBHandler t(table, false, false); }
  EXPECT_EQ(fendral::test::ReadText(elsewhere.File("victim.txt")), "keep me");
  EXPECT_FALSE(fs::exists(ReplaceJournalPath(table)));
  EXPECT_EQ(fendral::test::ReadBytes(table), before);
}

TEST(ReplaceJournal, AStagingDirectoryOfAnotherUserIsNotEmptied) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs to give a directory to another user";
  TempDir dir;
  const std::string table = SmallTable(dir);
  const std::string stage = ReplaceStagingDirectory(dir.Path().string(), table);
  fs::create_directory(stage);
  fendral::test::WriteText(stage + "/t.dbf", "not ours");
  ASSERT_EQ(::chown(stage.c_str(), 54321, 54321), 0);
  fendral::test::WriteText(ReplaceJournalPath(table), "FENDRAL-REPLACE 1\nCOMMIT\nSTAGE " + stage +
                                                          "\nMOVE " + stage + "/t.dbf\t" + table +
                                                          "\nEND\n");
  EXPECT_THROW(KXO_dBHandler(table, false, false), ETolvernError);
  EXPECT_EQ(fendral::test::ReadText(stage + "/t.dbf"), "not ours");
  // Uncommitted: the old table opens, the directory stays.
  fendral::test::WriteText(ReplaceJournalPath(table),
                           "FENDRAL-REPLACE 1\nPREPARE\nSTAGE " + stage + "\nEND\n");
  { KXO_dBHandler t(table, false, false); }
  EXPECT_TRUE(fs::exists(stage + "/t.dbf"));
}

TEST(ReplaceJournal, AJournalIsLeftAloneWhileAnotherHandleHoldsTheTable) {
  TempDir dir;
  const std::string table = SmallTable(dir);
  const std::string stage = ReplaceStagingDirectory(dir.Path().string(), table);
  fs::create_directory(stage);
  fendral::test::WriteText(stage + "/t.dbf", "staged");
  fendral::test::WriteText(ReplaceJournalPath(table),
                           "FENDRAL-REPLACE 1\nPREPARE\nSTAGE " + stage + "\nEND\n");
  platform::OsFile holder;
  ASSERT_EQ(holder.Open(table, false), 0);
  ASSERT_EQ(holder.ShareLock(true), 0);
  RecoverReplacement(table);
  EXPECT_TRUE(fs::exists(stage + "/t.dbf")) << "the replacing process still works";
  holder.Close();
  RecoverReplacement(table);
  EXPECT_FALSE(fs::exists(stage));
  EXPECT_FALSE(fs::exists(ReplaceJournalPath(table)));
}

}  // namespace
}  // namespace tolvern
