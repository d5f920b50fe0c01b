// Sharing a table with a running program: fendral-cli and the legacy stand-in (or a
// second fendral-cli) change the same table at the same time, each under its own
// program's locks. Afterwards every record of both sides is there exactly once with its
// values, and every index passes the other program's check and equals a fresh build.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <filesystem>
#include <map>
#include <random>
#include <set>
#include <thread>

#include "cli_test_util.h"
#include "kx6_fld.h"
#include "kx6_tool.h"

namespace fendral::test {
namespace {

// The long runs belong to the plain build; sanitizer builds run a short version.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kChanges = 100;
#else
constexpr int kChanges = 1000;
#endif

constexpr int kFixtureRecords = 200;
constexpr int kFendralIdBase = 100000;

fs::path LegacyBin(const std::string& name) {
  return SharedDir().empty() ? fs::path() : SharedDir() / "peers" / "bin" / name;
}

#define REQUIRE_LEGACY()                                                 \
  do {                                                                   \
    REQUIRE_SHARED();                                                    \
    if (!fs::exists(LegacyBin("hb-legacy")))                             \
      GTEST_SKIP() << "the legacy stand-in is not in the shared folder"; \
  } while (0)

// Copies fixture files of peer-harbour into `dir`, writable.
void CopyFixtures(const TempDir& dir, const std::vector<std::string>& names) {
  for (const auto& name : names) {
    const fs::path to = dir.Path() / name;
    fs::copy_file(FixturesDir() / "peer-harbour" / name, to);
    fs::permissions(to, fs::perms::owner_write, fs::perm_options::add);
  }
}

// Lines for fendral-cli import: record i has ID 100000 + i, NAME "F<i>" and values
// derived from i; every third has a memo.
std::string ImportLines(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) {
    text += "{\"fields\": {\"ID\": " + std::to_string(kFendralIdBase + i) + ", \"NAME\": \"F" +
            std::to_string(i) + "\", \"CITY\": \"Fendral\", \"AMOUNT\": " + std::to_string(i) +
            ".25, \"QTY\": " + std::to_string(i % 10000) +
            ", \"BORN\": \"2001-02-03\", \"ACTIVE\": true, \"NOTES\": " +
            (i % 3 == 0 ? "\"memo " + std::to_string(i) + "\"" : std::string("null")) + "}}\n";
  }
  return text;
}

// A command running in the background.
class Background {
 public:
  explicit Background(std::string command)
      : thread_([this, command] {
          status_ = RunCommand(command + " >/dev/null 2>&1");
          done_ = true;
        }) {}
  int Wait() {
    if (thread_.joinable()) thread_.join();
    return status_;
  }
  bool Done() const { return done_; }
  ~Background() { Wait(); }

 private:
  int status_ = -1;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Waits (up to 20 s) until the table file has grown past `size` bytes: the other program
// is working.
void WaitForGrowth(const std::string& table, uintmax_t size) {
  for (int i = 0; i < 2000 && fs::file_size(table) <= size; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

std::string Legacy(const std::string& mode, const std::string& table, const std::string& rdd,
                   int count, const std::string& text, const std::vector<std::string>& indexes) {
  // It runs in the table's folder: that is where it writes its error log.
  std::string command = "cd " + Quote(fs::path(table).parent_path().string()) + " && " +
                        Quote(LegacyBin("hb-legacy").string()) + " " + mode + " " + Quote(table) +
                        " " + rdd + " " + std::to_string(count) + " " + text;
  for (const auto& index : indexes) command.append(" ").append(Quote(index));
  return command;
}

std::string IndexArgs(const std::vector<std::string>& indexes) {
  std::string args;
  for (const auto& index : indexes) args += " --index " + Quote(index);
  return args;
}

struct Row {
  int id;
  std::string name, city;
  double amount, qty;
  std::string notes;
  bool deleted;
};

std::vector<Row> ReadRows(const std::string& table) {
  tolvern::KXO_dBaseFld t(table, false, true);
  std::vector<Row> rows;
  for (int32_t n = 1; n <= t.RecordCount(); ++n) {
    t.GetRecord(n);
    std::vector<uint8_t> memo;
    t.ReadMemo(t.FindField("NOTES")->number, memo);
    rows.push_back(
        {static_cast<int>(t.GetNumberByName("ID")), tolvern::TrimRight(t.GetFieldByName("NAME")),
         tolvern::TrimRight(t.GetFieldByName("CITY")), t.GetNumberByName("AMOUNT"),
         t.GetNumberByName("QTY"), std::string(memo.begin(), memo.end()), t.IsDeleted()});
  }
  return rows;
}

// Fendral's records (ID above 100000) are there exactly once each with the values
// imported; their names may have been rewritten by the other program when `renamed`
// says how ("R" + n).
void ExpectImportedRecords(const std::vector<Row>& rows, int count, bool renamedAllowed) {
  std::map<int, int> seen;
  for (const Row& row : rows) {
    if (row.id <= kFendralIdBase) continue;
    const int i = row.id - kFendralIdBase;
    ++seen[i];
    SCOPED_TRACE("imported record " + std::to_string(i));
    const bool renamed = renamedAllowed && row.name.rfind("R", 0) == 0;
    if (!renamed) {
      EXPECT_EQ(row.name, "F" + std::to_string(i));
    }
    EXPECT_EQ(row.city, "Fendral");
    EXPECT_DOUBLE_EQ(row.amount, i + 0.25);
    EXPECT_DOUBLE_EQ(row.qty, i % 10000);
    EXPECT_EQ(row.notes, i % 3 == 0 ? "memo " + std::to_string(i) : "");
  }
  EXPECT_EQ(static_cast<int>(seen.size()), count);
  for (const auto& [i, times] : seen) EXPECT_EQ(times, 1) << "imported record " << i;
}

// Records the other program appended: NAME = text + n, each n once.
void ExpectAppendedNames(const std::vector<Row>& rows, const std::string& text, int count) {
  std::map<std::string, int> names;
  for (const Row& row : rows) ++names[row.name];
  for (int n = 1; n <= count; ++n) EXPECT_EQ(names[text + std::to_string(n)], 1) << text << n;
}

// The walk (lines of `keys`) equals a fresh build's: the same keys in the same order and
// the same record under each key. Equal keys may come in another record order (NTX keeps
// them in the order they were added).
void ExpectSameWalk(const std::string& walk, const std::string& freshWalk) {
  auto split = [](const std::string& text) {
    std::vector<std::string> keys, lines;
    size_t at = 0;
    while (at < text.size()) {
      const size_t end = text.find('\n', at);
      const std::string line = text.substr(at, end - at);
      const size_t key = line.find("\"key\": ");
      keys.push_back(key == std::string::npos ? line : line.substr(key));
      lines.push_back(line);
      if (end == std::string::npos) break;
      at = end + 1;
    }
    std::sort(lines.begin(), lines.end());
    return std::make_pair(keys, lines);
  };
  const auto [keys, entries] = split(walk);
  const auto [freshKeys, freshEntries] = split(freshWalk);
  EXPECT_TRUE(keys == freshKeys) << "the keys differ from a fresh build's";
  EXPECT_TRUE(entries == freshEntries) << "the entries differ from a fresh build's";
}

// Every index passes the other program's check, and Fendral's walk of every tag equals
// the walk of a fresh build of a copy.
void ExpectIndexesSound(const TempDir& dir, const std::string& table,
                        const std::vector<std::pair<std::string, std::string>>& tags) {
  TempDir fresh;
  for (const auto& entry : fs::directory_iterator(dir.Path()))
    fs::copy_file(entry.path(), fresh.Path() / entry.path().filename());
  const std::string freshTable = (fresh.Path() / fs::path(table).filename()).string();
  std::set<std::string> files;
  for (const auto& [file, tag] : tags) files.insert(file);
  for (const auto& file : files) {
    const std::string copy = (fresh.Path() / fs::path(file).filename()).string();
    std::string err;
    ASSERT_EQ(RunCli("reindex " + Quote(freshTable) + " " + Quote(copy), nullptr, &err), 0) << err;
  }
  for (const auto& [file, tag] : tags) {
    SCOPED_TRACE(file + " " + tag);
    std::string out;
    const std::string check = Quote(LegacyBin("hb-verify").string()) + " " + Quote(table) + " " +
                              Quote(file) + (tag.empty() ? "" : " " + tag) + " --check 2>&1";
    EXPECT_EQ(RunCommand(check, &out), 0) << out.substr(out.size() > 2000 ? out.size() - 2000 : 0);
    const std::string tagArg = tag.empty() ? "" : " --tag " + tag;
    std::string walk, freshWalk, err;
    ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(file) + tagArg, &walk, &err), 0) << err;
    const std::string copy = (fresh.Path() / fs::path(file).filename()).string();
    ASSERT_EQ(RunCli("keys " + Quote(freshTable) + " " + Quote(copy) + tagArg, &freshWalk, &err), 0)
        << err;
    ExpectSameWalk(walk, freshWalk);
  }
}

std::vector<std::pair<std::string, std::string>> CdxTags(const std::string& table,
                                                         const std::string& cdx) {
  std::string out;
  RunCli("tags " + Quote(table) + " " + Quote(cdx), &out);
  std::vector<std::pair<std::string, std::string>> tags;
  size_t at = 0;
  while ((at = out.find("{\"name\": \"", at)) != std::string::npos) {
    at += 10;
    tags.emplace_back(cdx, out.substr(at, out.find('"', at) - at));
  }
  return tags;
}

// --- Fendral and the legacy program -------------------------------------------------------

struct LegacyCase {
  const char* table;
  const char* rdd;
  std::vector<std::string> files;    // fixture files to copy
  std::vector<std::string> indexes;  // index files both sides open (besides a production CDX)
};

void AppendTogether(const LegacyCase& c) {
  TempDir dir;
  CopyFixtures(dir, c.files);
  const std::string table = dir.File(c.table);
  std::vector<std::string> indexes;
  for (const auto& index : c.indexes) indexes.push_back(dir.File(index));
  const std::string lines = dir.File("import.jsonl");
  WriteText(lines, ImportLines(kChanges));

  const uintmax_t before = fs::file_size(table);
  Background legacy(Legacy("append", table, c.rdd, kChanges, "H", indexes));
  WaitForGrowth(table, before);
  std::string err;
  EXPECT_EQ(
      RunCli("import " + Quote(table) + " " + Quote(lines) + IndexArgs(indexes), nullptr, &err), 0)
      << err;
  EXPECT_EQ(legacy.Wait(), 0);

  const std::vector<Row> rows = ReadRows(table);
  EXPECT_EQ(static_cast<int>(rows.size()), kFixtureRecords + 2 * kChanges);
  ExpectImportedRecords(rows, kChanges, false);
  ExpectAppendedNames(rows, "H", kChanges);
  std::vector<std::pair<std::string, std::string>> tags;
  for (const auto& index : indexes) tags.emplace_back(index, "");
  if (std::string(c.rdd) == "DBFCDX") tags = CdxTags(table, dir.File("fox.cdx"));
  ExpectIndexesSound(dir, table, tags);
}

const LegacyCase kClipOne{
    "clip.dbf", "DBFNTX", {"clip.dbf", "clip.dbt", "clip_name.ntx"}, {"clip_name.ntx"}};
const LegacyCase kClipTwo{"clip.dbf",
                          "DBFNTX",
                          {"clip.dbf", "clip.dbt", "clip_name.ntx", "clip_amount.ntx"},
                          {"clip_name.ntx", "clip_amount.ntx"}};
const LegacyCase kFox{"fox.dbf", "DBFCDX", {"fox.dbf", "fox.fpt", "fox.cdx"}, {}};

TEST(SharingWithLegacy, AppendsOnAClipperTableWithOneNtx) {
  REQUIRE_LEGACY();
  AppendTogether(kClipOne);
}

TEST(SharingWithLegacy, AppendsOnAClipperTableWithTwoNtx) {
  REQUIRE_LEGACY();
  AppendTogether(kClipTwo);
}

TEST(SharingWithLegacy, AppendsOnAFoxProTableWithItsProductionCdx) {
  REQUIRE_LEGACY();
  AppendTogether(kFox);
}

// The other program rewrites random records under its record locks while Fendral
// appends: Fendral's records keep their values (a name the other program rewrote aside),
// the original records keep theirs but the name.
void AppendWhileTheOtherRewrites(const LegacyCase& c) {
  TempDir dir;
  CopyFixtures(dir, c.files);
  const std::string table = dir.File(c.table);
  std::vector<std::string> indexes;
  for (const auto& index : c.indexes) indexes.push_back(dir.File(index));
  const std::string lines = dir.File("import.jsonl");
  WriteText(lines, ImportLines(kChanges));
  const std::vector<Row> original = ReadRows(table);

  Background legacy(Legacy("replace", table, c.rdd, kChanges, "R", indexes));
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  std::string err;
  EXPECT_EQ(
      RunCli("import " + Quote(table) + " " + Quote(lines) + IndexArgs(indexes), nullptr, &err), 0)
      << err;
  EXPECT_EQ(legacy.Wait(), 0);

  const std::vector<Row> rows = ReadRows(table);
  ASSERT_EQ(static_cast<int>(rows.size()), kFixtureRecords + kChanges);
  for (int n = 0; n < kFixtureRecords; ++n) {
    EXPECT_EQ(rows[n].id, original[n].id);
    EXPECT_EQ(rows[n].city, original[n].city);
    EXPECT_TRUE(rows[n].name == original[n].name || rows[n].name.rfind("R", 0) == 0);
  }
  ExpectImportedRecords(rows, kChanges, true);
  std::vector<std::pair<std::string, std::string>> tags;
  for (const auto& index : indexes) tags.emplace_back(index, "");
  if (std::string(c.rdd) == "DBFCDX") tags = CdxTags(table, dir.File("fox.cdx"));
  ExpectIndexesSound(dir, table, tags);
}

TEST(SharingWithLegacy, AppendsWhileTheOtherRewritesOnAClipperTable) {
  REQUIRE_LEGACY();
  AppendWhileTheOtherRewrites(kClipTwo);
}

TEST(SharingWithLegacy, AppendsWhileTheOtherRewritesOnAFoxProTable) {
  REQUIRE_LEGACY();
  AppendWhileTheOtherRewrites(kFox);
}

// Fendral rewrites random records (fendral-cli replace, one process each) while the
// other program appends: the last name Fendral gave each record is the one it has.
void RewriteWhileTheOtherAppends(const LegacyCase& c, int rewrites) {
  TempDir dir;
  CopyFixtures(dir, c.files);
  const std::string table = dir.File(c.table);
  std::vector<std::string> indexes;
  for (const auto& index : c.indexes) indexes.push_back(dir.File(index));
  const std::vector<Row> original = ReadRows(table);

  const uintmax_t before = fs::file_size(table);
  Background legacy(Legacy("append", table, c.rdd, rewrites, "H", indexes));
  WaitForGrowth(table, before);
  std::mt19937 random(7);
  std::map<int, std::string> last;
  for (int i = 1; i <= rewrites; ++i) {
    const int recno = static_cast<int>(random() % kFixtureRecords) + 1;
    const std::string name = "F" + std::to_string(i);
    std::string err;
    ASSERT_EQ(RunCli("replace " + Quote(table) + " " + std::to_string(recno) + " NAME=" + name +
                         IndexArgs(indexes),
                     nullptr, &err),
              0)
        << err;
    last[recno] = name;
  }
  EXPECT_EQ(legacy.Wait(), 0);

  const std::vector<Row> rows = ReadRows(table);
  ASSERT_EQ(static_cast<int>(rows.size()), kFixtureRecords + rewrites);
  for (int n = 0; n < kFixtureRecords; ++n) {
    const auto it = last.find(n + 1);
    EXPECT_EQ(rows[n].name, it == last.end() ? original[n].name : it->second) << n + 1;
    EXPECT_EQ(rows[n].id, original[n].id);
    EXPECT_EQ(rows[n].city, original[n].city);
  }
  ExpectAppendedNames(rows, "H", rewrites);
  std::vector<std::pair<std::string, std::string>> tags;
  for (const auto& index : indexes) tags.emplace_back(index, "");
  if (std::string(c.rdd) == "DBFCDX") tags = CdxTags(table, dir.File("fox.cdx"));
  ExpectIndexesSound(dir, table, tags);
}

TEST(SharingWithLegacy, RewritesWhileTheOtherAppendsOnAClipperTable) {
  REQUIRE_LEGACY();
  RewriteWhileTheOtherAppends(kClipTwo, kChanges);
}

TEST(SharingWithLegacy, RewritesWhileTheOtherAppendsOnAFoxProTable) {
  REQUIRE_LEGACY();
  RewriteWhileTheOtherAppends(kFox, kChanges);
}

// --- Reading while the other program writes ------------------------------------------------

// The text of the JSON string that follows `name` in `line` (escapes kept as they are).
std::string JsonText(const std::string& line, const std::string& name) {
  const std::string head = "\"" + name + "\": \"";
  size_t at = line.find(head);
  if (at == std::string::npos) return {};
  at += head.size();
  std::string text;
  for (; at < line.size() && line[at] != '"'; ++at) {
    if (line[at] == '\\' && at + 1 < line.size()) text += line[at++];
    text += line[at];
  }
  return text;
}

// One walk's output (keys or dump): it lists each record at most once, and the values
// of `field` come in ascending byte order (names the other program gives by rewriting,
// "R" + n, are left out of the order when `skipRewritten`: a record read after its index
// entry may already carry its new name).
void ExpectSoundWalk(const std::string& out, const std::string& field, bool skipRewritten) {
  std::map<long, std::string> seen;
  std::string previous;
  size_t at = 0;
  int line = 0;
  while (at < out.size()) {
    const size_t end = out.find('\n', at);
    const std::string text = out.substr(at, end - at);
    at = end == std::string::npos ? out.size() : end + 1;
    ++line;
    const size_t r = text.find("\"recno\": ");
    ASSERT_NE(r, std::string::npos) << "line " << line << ": " << text;
    const long recno = std::stol(text.substr(r + 9));
    const auto [first, fresh] = seen.emplace(recno, text);
    ASSERT_TRUE(fresh) << "record " << recno << " listed twice, line " << line << ":\n"
                       << first->second << "\n"
                       << text;
    const std::string value = JsonText(text, field);
    if (skipRewritten && value.rfind("R", 0) == 0) continue;
    ASSERT_LE(previous, value) << "line " << line << " out of order";
    previous = value;
  }
}

// `keys` and `dump` in index order, one after the other, while the other program appends
// and rewrites records of the same table: every walk ends, lists each record at most once
// and in order. The walks go on until both writers are done and `minWalks` walks were
// made; afterwards a walk lists every record once.
void WalkWhileTheOtherWrites(const LegacyCase& c, const std::string& indexName,
                             const std::string& tag, int appends, int rewrites, int minWalks) {
  TempDir dir;
  CopyFixtures(dir, c.files);
  const std::string table = dir.File(c.table);
  std::vector<std::string> indexes;
  for (const auto& index : c.indexes) indexes.push_back(dir.File(index));
  const std::string index = dir.File(indexName);
  const std::string tagArg = tag.empty() ? "" : " --tag " + tag;
  const std::string keys = "keys " + Quote(table) + " " + Quote(index) + tagArg;
  const std::string dump = "dump " + Quote(table) + " --index " + Quote(index) + tagArg;

  // The writers run in rounds until enough walks met them: on a loaded machine one round
  // may end before many walks were made.
  int walks = 0, duringWrites = 0, rounds = 0;
  while (rounds < 12 && (walks < minWalks || duringWrites < minWalks / 5)) {
    ++rounds;
    Background appender(Legacy("append", table, c.rdd, appends, "H", indexes));
    Background rewriter(Legacy("replace", table, c.rdd, rewrites, "R", indexes));
    int walksThisRound = 0;
    while (walksThisRound < minWalks || !appender.Done() || !rewriter.Done()) {
      const bool writing = !appender.Done() || !rewriter.Done();
      std::string out, err;
      const bool keysWalk = walks % 2 == 0;
      ASSERT_EQ(RunCli(keysWalk ? keys : dump, &out, &err), 0) << "walk " << walks << ": " << err;
      SCOPED_TRACE("walk " + std::to_string(walks) + (keysWalk ? " (keys)" : " (dump)"));
      ExpectSoundWalk(out, keysWalk ? "key" : "NAME", !keysWalk);
      if (testing::Test::HasFailure()) return;
      ++walks;
      ++walksThisRound;
      if (writing) ++duringWrites;
      ASSERT_LT(walksThisRound, 20 * minWalks) << "the other program does not finish";
    }
    EXPECT_EQ(appender.Wait(), 0);
    EXPECT_EQ(rewriter.Wait(), 0);
  }
  EXPECT_GE(duringWrites, minWalks / 5) << "too few walks met the other program's writes";

  std::string out, err;
  ASSERT_EQ(RunCli(keys, &out, &err), 0) << err;
  ExpectSoundWalk(out, "key", false);
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), kFixtureRecords + rounds * appends);
}

TEST(SharingWithLegacy, WalksOfACdxOrderMeetNoHalfWrittenPage) {
  REQUIRE_LEGACY();
  WalkWhileTheOtherWrites(kFox, "fox.cdx", "NAME", 900, 300, 100);
}

TEST(SharingWithLegacy, WalksOfAnNtxOrderMeetNoHalfWrittenPage) {
  REQUIRE_LEGACY();
  WalkWhileTheOtherWrites(kClipOne, "clip_name.ntx", "", 1500, 500, 100);
}

// --- Two Fendral processes ------------------------------------------------------------------

struct FendralCase {
  const char* protocol;
  const char* type;       // create --type
  const char* indexFile;  // "" for none
  const char* indexTag;
};

void TwoImports(const FendralCase& c) {
  TempDir dir;
  const std::string table = dir.File("t.dbf");
  std::string err;
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type " + c.type +
                       " ID:N:8 NAME:C:20 CITY:C:15 AMOUNT:N:10:2 QTY:N:5 BORN:D:8 ACTIVE:L:1"
                       " NOTES:M:10",
                   nullptr, &err),
            0)
      << err;
  std::vector<std::string> indexes;
  std::string indexArgs;
  if (*c.indexFile) {
    const std::string index = dir.File(c.indexFile);
    ASSERT_EQ(RunCli("index " + Quote(table) + " " + Quote(index) + " --key NAME" +
                         (*c.indexTag ? std::string(" --tag ") + c.indexTag : ""),
                     nullptr, &err),
              0)
        << err;
    indexes.push_back(index);
    indexArgs = IndexArgs(indexes);
  }
  // Two imports of different records, started together.
  std::string first = ImportLines(kChanges), second;
  for (int i = 1; i <= kChanges; ++i) {
    second += "{\"fields\": {\"ID\": " + std::to_string(i) + ", \"NAME\": \"S" + std::to_string(i) +
              "\", \"CITY\": \"Second\"}}\n";
  }
  WriteText(dir.File("a.jsonl"), first);
  WriteText(dir.File("b.jsonl"), second);
  const std::string protocol = std::string(" --lock-protocol ") + c.protocol;
  Background other(Quote(FENDRAL_CLI) + " import " + Quote(table) + " " +
                   Quote(dir.File("b.jsonl")) + indexArgs + protocol);
  EXPECT_EQ(
      RunCli("import " + Quote(table) + " " + Quote(dir.File("a.jsonl")) + indexArgs + protocol,
             nullptr, &err),
      0)
      << err;
  EXPECT_EQ(other.Wait(), 0);

  const std::vector<Row> rows = ReadRows(table);
  EXPECT_EQ(static_cast<int>(rows.size()), 2 * kChanges);
  ExpectImportedRecords(rows, kChanges, false);
  ExpectAppendedNames(rows, "S", kChanges);
  if (!indexes.empty()) {
    // Fendral's walk of the index equals a fresh build.
    TempDir fresh;
    for (const auto& entry : fs::directory_iterator(dir.Path()))
      fs::copy_file(entry.path(), fresh.Path() / entry.path().filename());
    const std::string tagArg = *c.indexTag ? std::string(" --tag ") + c.indexTag : "";
    const std::string copy = fresh.File(c.indexFile);
    ASSERT_EQ(RunCli("reindex " + Quote(fresh.File("t.dbf")) + " " + Quote(copy), nullptr, &err), 0)
        << err;
    std::string walk, freshWalk;
    ASSERT_EQ(RunCli("keys " + Quote(table) + " " + Quote(indexes[0]) + tagArg, &walk, &err), 0)
        << err;
    ASSERT_EQ(
        RunCli("keys " + Quote(fresh.File("t.dbf")) + " " + Quote(copy) + tagArg, &freshWalk, &err),
        0)
        << err;
    EXPECT_EQ(std::count(walk.begin(), walk.end(), '\n'), 2 * kChanges);
    ExpectSameWalk(walk, freshWalk);
  }
}

TEST(SharingBetweenFendrals, EachProtocolKeepsEveryAppend) {
  for (const FendralCase& c : {FendralCase{"clipper", "clipper", "t.ntx", ""},
                               FendralCase{"foxpro", "foxpro", "t.cdx", "NAME"},
                               FendralCase{"dbase4", "dbase4", "t.mdx", "NAME"},
                               FendralCase{"default", "dbase3", "t.ndx", ""},
                               FendralCase{"auto", "foxpro", "t.cdx", "NAME"}}) {
    SCOPED_TRACE(c.protocol);
    TwoImports(c);
  }
}

TEST(SharingBetweenFendrals, TablesWithoutIndexKeepEveryAppend) {
  for (const FendralCase& c :
       {FendralCase{"default", "dbase3", "", ""}, FendralCase{"foxpro", "foxpro", "", ""},
        FendralCase{"clipper", "clipper", "", ""}, FendralCase{"dbase4", "dbase4", "", ""}}) {
    SCOPED_TRACE(c.protocol);
    TwoImports(c);
  }
}

// --- Share modes ---------------------------------------------------------------------------

TEST(SharingWithLegacy, ShareModesOfTheOtherProgramAreRespected) {
  REQUIRE_LEGACY();
  TempDir dir;
  CopyFixtures(dir, {"clip.dbf", "clip.dbt"});
  const std::string table = dir.File("clip.dbf");
  const std::vector<uint8_t> bytes = ReadBytes(table);
  {
    // The other program has the table open shared: an exclusive command is refused
    // before anything changes; a shared one works.
    std::string out;
    Background hold(Legacy("hold", table, "DBFNTX", 3, "shared", {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string err;
    EXPECT_EQ(RunCli("pack " + Quote(table), nullptr, &err), 1);
    EXPECT_NE(err.find("in use"), std::string::npos) << err;
    EXPECT_EQ(RunCli("dump " + Quote(table), &out, &err), 0) << err;
    EXPECT_EQ(hold.Wait(), 0);
  }
  EXPECT_TRUE(ReadBytes(table) == bytes) << "the refused pack changed the table";
  {
    // The other program holds it exclusively: even a shared open is refused.
    Background hold(Legacy("hold", table, "DBFNTX", 3, "exclusive", {}));
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    std::string err;
    EXPECT_EQ(RunCli("dump " + Quote(table), nullptr, &err), 1);
    EXPECT_NE(err.find("in use"), std::string::npos) << err;
    EXPECT_EQ(hold.Wait(), 0);
  }
  // And the other way round: Fendral's exclusive open keeps the other program out.
  EXPECT_EQ(RunCli("pack " + Quote(table)), 0);
}

TEST(SharingCommandLine, UnknownLockProtocolIsAUsageError) {
  TempDir dir;
  const std::string table = dir.File("t.dbf");
  ASSERT_EQ(RunCli("create " + Quote(table) + " --type dbase3 A:C:5"), 0);
  std::string err;
  EXPECT_EQ(RunCli("dump " + Quote(table) + " --lock-protocol dbase5", nullptr, &err), 64);
  EXPECT_NE(err.find("--lock-protocol"), std::string::npos) << err;
  EXPECT_EQ(RunCli("dump " + Quote(table) + " --lock-protocol clipper"), 0);
}

}  // namespace
}  // namespace fendral::test
