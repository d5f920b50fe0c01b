// Key maintenance on record writes: thousands of random appends and rewrites (fixed seeds)
// against NDX and NTX tags; after every batch the tag holds exactly the keys a model of the
// writes says, in its order, and the same keys as a tag built afresh from the table. Long
// keys make pages of two or three keys, so splits happen at every level of deep trees.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <list>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_fld.h"
#include "kx6_indx.h"
#include "kx6_ndx.h"
#include "kx6_ntx.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;

// A table that keeps its index files current on every write, as the table handler does.
class IndexedTable : public KXO_dBaseFld {
 public:
  IndexedTable(const std::string& name) : KXO_dBaseFld(name, true, false) {}
  std::vector<KXobjIndexFile*> indexes;
  bool RecordEvent(int event, int32_t number) override {
    const bool result = KXO_dBaseFld::RecordEvent(event, number);
    if (event == kEventAfterWrite) {
      for (KXobjIndexFile* file : indexes) file->KeyUpdateAll(CurrentRecord(), number == 0);
    }
    return result;
  }
};

struct Entry {
  std::string key;
  int32_t recno;
  bool operator==(const Entry&) const = default;
};

std::vector<Entry> Walk(KXobjIndexTag& tag) {
  std::vector<Entry> out;
  for (int32_t recno = tag.Goto(PosTop); !tag.Eof(); recno = tag.Goto(PosNext)) {
    out.push_back({tag.CurrentKey().AsText(), recno});
    if (out.size() > 200000) break;
  }
  return out;
}

// Levels of the tree on the path to the first key.
int Depth(KXobjIndexTag& tag) {
  tag.Goto(PosTop);
  int depth = 0;
  for (const KXobjIndexKey* node = tag.RootNode(); node; node = node->Child()) ++depth;
  return depth;
}

// The record numbers another program's walk of `path` gives: index_walk.py or Perl
// XBase; {-1} when the program fails.
std::vector<int32_t> PeerRecnos(const std::string& path, const std::string& table, bool perl) {
  const std::string peers = (SharedDir() / "peers").string();
  const std::string command =
      perl ? "perl '" + peers + "/dump_table.pl' --index '" + path + "' '" + table + "'"
           : "/usr/bin/python3 '" + peers + "/index_walk.py' '" + path + "'";
  std::string out;
  if (RunCommand(command, &out) != 0) return {-1};
  std::vector<int32_t> recnos;
  size_t at = 0;
  while ((at = out.find("\"recno\":", at)) != std::string::npos) {
    at += 8;
    recnos.push_back(std::stoi(out.substr(at)));
  }
  return recnos;
}

// Pages other programs do not expect, read straight from the file: a branch page without
// a key, and (NTX) an empty leaf anywhere but at the right edge of the tree.
std::string StructureProblems(const std::string& path, bool ntx) {
  const std::vector<uint8_t> file = fendral::test::ReadBytes(path);
  const ByteReader r(file.data(), file.size());
  std::string problems;
  std::function<void(int64_t, int, bool)> visit = [&](int64_t page, int depth, bool rightmost) {
    const size_t at = static_cast<size_t>(ntx ? page : page * 512);
    if (depth > 64 || at + (ntx ? 1024 : 512) > file.size()) {
      problems += "page " + std::to_string(page) + " outside the file or a loop\n";
      return;
    }
    if (ntx) {
      const int count = r.U16LE(at);
      const auto entry = [&](int i) { return at + r.U16LE(at + 2 + 2 * static_cast<size_t>(i)); };
      const bool branch = r.U32LE(entry(0)) != 0;
      if (count == 0 && (branch || !rightmost))
        problems += "empty page at " + std::to_string(page) + "\n";
      if (!branch) return;
      for (int i = 0; i <= count; ++i) visit(r.U32LE(entry(i)), depth + 1, rightmost && i == count);
    } else {
      const uint32_t count = r.U32LE(at);
      const bool branch = r.U32LE(at + 4) != 0;
      const size_t size = r.U16LE(18);
      if (branch && count == 0) problems += "branch without key " + std::to_string(page) + "\n";
      if (!branch) return;
      for (uint32_t i = 0; i <= count; ++i) visit(r.U32LE(at + 4 + i * size), depth + 1, false);
    }
  };
  visit(ntx ? r.U32LE(4) : r.U32LE(0), 0, true);
  return problems;
}

std::string Describe(const std::vector<Entry>& entries, size_t at) {
  std::string text;
  for (size_t i = at > 3 ? at - 3 : 0; i < std::min(entries.size(), at + 4); ++i) {
    text.append(std::to_string(i)).append(": ").append(entries[i].key);
    text.append(" #").append(std::to_string(entries[i].recno)).append("\n");
  }
  return text;
}

void ExpectSameWalk(const std::vector<Entry>& actual, const std::vector<Entry>& expected,
                    const std::string& what) {
  ASSERT_EQ(actual.size(), expected.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i) {
    ASSERT_EQ(actual[i], expected[i]) << what << " at " << i << "\nactual:\n"
                                      << Describe(actual, i) << "expected:\n"
                                      << Describe(expected, i);
  }
}

// The same keys in the same order, and every group of equal keys the same records (a
// fresh build orders equal keys by record number, maintenance by insertion).
void ExpectSameKeys(std::vector<Entry> actual, std::vector<Entry> built, const std::string& what) {
  ASSERT_EQ(actual.size(), built.size()) << what;
  for (size_t i = 0; i < actual.size(); ++i) ASSERT_EQ(actual[i].key, built[i].key) << what << i;
  auto byKeyThenRecno = [](const Entry& a, const Entry& b) {
    return a.key != b.key ? a.key < b.key : a.recno < b.recno;
  };
  std::sort(actual.begin(), actual.end(), byKeyThenRecno);
  std::sort(built.begin(), built.end(), byKeyThenRecno);
  EXPECT_EQ(actual, built) << what;
}

// What a tag must hold after a sequence of writes: per key its records in the order
// they were inserted.
class Model {
 public:
  Model(bool unique, bool descending) : unique_(unique), descending_(descending) {}

  void Write(int32_t recno, const std::string& oldKey, bool hadOld, const std::string& newKey) {
    if (hadOld) {
      auto& list = keys_[oldKey];
      auto it = std::find(list.begin(), list.end(), recno);
      if (it != list.end()) {
        if (oldKey == newKey) return;  // unchanged key: nothing moves
        list.erase(it);
        if (list.empty()) keys_.erase(oldKey);
      }
    }
    auto& list = keys_[newKey];
    if (unique_ && !list.empty()) return;
    list.push_back(recno);
  }

  std::vector<Entry> Expected() const {
    std::vector<Entry> out;
    auto add = [&out](const auto& item) {
      for (int32_t recno : item.second) out.push_back({item.first, recno});
    };
    if (descending_) {
      for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) add(*it);
    } else {
      for (const auto& item : keys_) add(item);
    }
    return out;
  }

 private:
  bool unique_;
  bool descending_;
  std::map<std::string, std::list<int32_t>> keys_;
};

struct Scenario {
  const char* format;  // "ndx" or "ntx"
  int keyWidth;        // field width: 200 gives pages of two or three keys
  int alphabet;        // letters the keys are drawn from (few: many equal keys)
  int keyLetters;
  bool unique;
  bool descending;
  unsigned seed;
};

std::string ScenarioName(const testing::TestParamInfo<Scenario>& info) {
  const Scenario& s = info.param;
  return std::string(s.format) + "_w" + std::to_string(s.keyWidth) + "_a" +
         std::to_string(s.alphabet) + (s.unique ? "_unique" : "") +
         (s.descending ? "_descending" : "") + "_s" + std::to_string(s.seed);
}

std::unique_ptr<KXobjIndexFile> MakeIndex(const Scenario& s, KXO_dBaseFld* table,
                                          const std::string& path, bool create) {
  if (std::string(s.format) == "ntx")
    return std::make_unique<KXobjNTXFile>(table, path, create, create, true, false);
  return std::make_unique<KXobjNDXFile>(table, path, create, create, true, false);
}

class IndexMaintenance : public testing::TestWithParam<Scenario> {};

TEST_P(IndexMaintenance, RandomAppendsAndRewritesMatchTheModelAndAFreshBuild) {
  const Scenario s = GetParam();
  TempDir dir;
  const std::string tablePath = dir.File("keys.dbf");
  {
    KXO_DBFBuild build(tablePath);
    build.AddField("NAME", 'C', s.keyWidth, 0);
    build.AddField("NUM", 'N', 6, 0);
    build.WriteTable();
  }
  IndexedTable table(tablePath);
  const std::string indexPath = dir.File(std::string("keys.") + s.format);
  auto index = MakeIndex(s, &table, indexPath, true);
  index->TagAdd("KEYS", "NAME", "", !s.descending, s.unique);
  table.indexes.push_back(index.get());
  KXobjIndexTag* tag = index->TagAt(0);

  std::mt19937 random(s.seed);
  auto randomKey = [&] {
    std::string key;
    const int letters = 1 + static_cast<int>(random() % static_cast<unsigned>(s.keyLetters));
    for (int i = 0; i < letters; ++i) key += static_cast<char>('A' + random() % s.alphabet);
    return key;
  };
  Model model(s.unique, s.descending);
  std::vector<std::string> current;  // the key each record holds
  int batches = 0;
  for (int batch = 0; batch < 8; ++batch) {
    const int operations = 250;
    for (int op = 0; op < operations; ++op) {
      const bool append = current.size() < 20 || random() % 100 < 45;
      const std::string key = randomKey();
      if (append) {
        table.BlankRecord();
        table.PutFieldByName("NAME", key);
        table.AppendRecord();
        current.push_back(key);
        model.Write(table.RecordCount(), "", false, key);
      } else {
        const int32_t recno = 1 + static_cast<int32_t>(random() % current.size());
        table.GetRecord(recno);
        // Some rewrites keep the key and change another field only.
        const bool sameKey = random() % 8 == 0;
        const std::string newKey = sameKey ? current[recno - 1] : key;
        table.PutFieldByName("NAME", newKey);
        table.PutFieldByName("NUM", std::to_string(op));
        table.PutRecord(recno);
        model.Write(recno, current[recno - 1], true, newKey);
        current[recno - 1] = newKey;
      }
    }
    const std::vector<Entry> walked = Walk(*tag);
    ExpectSameWalk(walked, model.Expected(), "batch " + std::to_string(batch));
    if (testing::Test::HasFatalFailure()) return;
    EXPECT_EQ(StructureProblems(indexPath, std::string(s.format) == "ntx"), "")
        << "batch " << batch;

    // A fresh build from the table: the same keys (the model's refusals aside).
    if (!s.unique) {
      const std::string freshPath = dir.File(std::string("fresh.") + s.format);
      auto fresh = MakeIndex(s, &table, freshPath, true);
      fresh->TagAdd("FRESH", "NAME", "", !s.descending, false);
      ExpectSameKeys(walked, Walk(*fresh->TagAt(0)), "fresh build, batch " + std::to_string(batch));
    }
    ++batches;
  }
  EXPECT_EQ(batches, 8);

  // Reopened from disk the tag holds the same, and other programs read that order.
  const std::vector<Entry> before = Walk(*tag);
  // Long keys make deep trees: every level has split.
  if (s.keyWidth >= 200 && before.size() >= 256) {
    EXPECT_GE(Depth(*tag), 5);
  }
  table.indexes.clear();
  index.reset();
  auto reopened = MakeIndex(s, &table, indexPath, false);
  ASSERT_TRUE(reopened->Opened());
  ExpectSameWalk(Walk(*reopened->TagAt(0)), before, "reopened");
  if (!SharedDir().empty()) {
    std::vector<int32_t> recnos;
    for (const Entry& entry : before) recnos.push_back(entry.recno);
    EXPECT_EQ(PeerRecnos(indexPath, tablePath, false), recnos) << "index_walk.py";
    EXPECT_EQ(PeerRecnos(indexPath, tablePath, true), recnos) << "Perl XBase";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Writes, IndexMaintenance,
    testing::Values(
        Scenario{"ntx", 200, 4, 3, false, false, 11}, Scenario{"ntx", 200, 4, 3, false, true, 12},
        Scenario{"ntx", 200, 3, 3, true, false, 13}, Scenario{"ntx", 200, 26, 3, true, true, 14},
        Scenario{"ntx", 6, 26, 4, false, false, 15}, Scenario{"ntx", 6, 5, 2, false, true, 16},
        Scenario{"ntx", 12, 26, 6, true, false, 17}, Scenario{"ndx", 200, 4, 3, false, false, 21},
        Scenario{"ndx", 200, 26, 3, true, false, 22}, Scenario{"ndx", 6, 26, 4, false, false, 23},
        Scenario{"ndx", 8, 5, 2, false, false, 24}, Scenario{"ndx", 12, 26, 6, true, false, 25}),
    ScenarioName);

}  // namespace
}  // namespace tolvern
