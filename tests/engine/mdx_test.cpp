// MDX files through the index machinery: new files and their tags, the tag table, key
// order of every key type, maintenance under appends and rewrites with page splits,
// reindex, rename, refusals, and every fixture MDX read tag by tag.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_mdx.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::FixtureFiles;
using fendral::test::ReadBytes;
using fendral::test::TempDir;
using fendral::test::WriteBytes;
using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------------------------------
// Helpers

struct Row {
  std::string name;
  double amount;
  std::string born;  // yyyymmdd or blank
};

// A dBase IV table NAME C(10), AMOUNT N(12,2), BORN D.
std::string MakeTable(const TempDir& dir, const std::string& file, const std::vector<Row>& rows) {
  const std::string path = dir.File(file);
  {
    KXO_DB4Build builder(path);
    builder.AddField("NAME", 'C', 10, 0);
    builder.AddField("AMOUNT", 'N', 12, 2);
    builder.AddField("BORN", 'D', 8, 0);
    builder.WriteTable();
  }
  KXO_dBaseFld table(path, true, false);
  for (const Row& row : rows) {
    table.BlankRecord();
    table.PutFieldByName("NAME", row.name);
    table.PutNumberByName("AMOUNT", row.amount);
    table.PutFieldByName("BORN", row.born);
    table.AppendRecord();
  }
  return path;
}

// One key of a walk, in a form the tests compare.
struct Walked {
  int32_t recno;
  std::string text;  // character keys
  double number;     // numeric and date keys
};

std::vector<Walked> Walk(KXobjIndexTag* tag) {
  std::vector<Walked> out;
  for (int32_t recno = tag->Goto(PosTop); !tag->Eof(); recno = tag->Goto(PosNext)) {
    const KXobjIndexKeyData& key = tag->CurrentKey();
    Walked w{recno, "", 0};
    if (tag->KeyType() == 'C')
      w.text = key.AsText();
    else if (tag->KeyType() == 'N')
      w.number = KXobjMDXTag::KeyNumber(key);
    else
      w.number = key.AsFloat();
    out.push_back(w);
    if (out.size() > 1000000) break;
  }
  return out;
}

std::vector<int32_t> Recnos(const std::vector<Walked>& walk) {
  std::vector<int32_t> out;
  for (const auto& w : walk) out.push_back(w.recno);
  return out;
}

// The error the engine raises for `run`, or "" when it raises none.
std::string ErrorOf(const std::function<void()>& run) {
  try {
    run();
  } catch (const ETolvernError& e) {
    return e.what();
  }
  return "";
}

// The tree as the bytes hold it, read without the engine: leaf entries in page order,
// checking on the way that branch keys are the last keys of their children, counts fit
// the tag's maximum and every leaf lies at the same depth.
struct RawTree {
  std::vector<std::pair<std::string, int32_t>> leaves;  // stored key bytes, record
  int depth = -1;
  int pages = 0;
  std::string problem;
};

void RawWalk(const Bytes& file, int32_t block, int level, const MdxTagHeader& h, RawTree& tree,
             std::string* lastKey) {
  const size_t at = static_cast<size_t>(block) * 512;
  if (level > 20 || at + 1024 > file.size()) {
    tree.problem = "page " + std::to_string(block) + " outside";
    return;
  }
  ++tree.pages;
  const ByteReader in(file.data() + at, 1024);
  const uint32_t n = in.U32LE(0);
  const size_t pointer = 8 + static_cast<size_t>(h.entryLength) * n;
  const bool branch = pointer + 4 <= 1024 && in.U32LE(pointer) != 0;
  if (static_cast<int>(n) + (branch ? 1 : 0) > h.maxKeys) tree.problem = "page too full";
  for (uint32_t i = 0; i < n + (branch ? 1 : 0); ++i) {
    const size_t e = 8 + static_cast<size_t>(h.entryLength) * i;
    const int32_t ref = in.I32LE(e);
    const std::string key = in.Text(e + 4, static_cast<size_t>(h.keyLength));
    if (branch) {
      std::string childLast;
      RawWalk(file, ref, level + 1, h, tree, &childLast);
      if (i < n && childLast != key) tree.problem = "branch key is not its child's last key";
      if (lastKey) *lastKey = childLast;
    } else {
      tree.leaves.emplace_back(key, ref);
      if (lastKey) *lastKey = key;
    }
  }
  if (!branch) {
    if (tree.depth < 0) tree.depth = level;
    if (tree.depth != level) tree.problem = "leaves at different depths";
  }
}

RawTree ReadRawTree(const std::string& mdxPath, const std::string& tagName) {
  const Bytes file = ReadBytes(mdxPath);
  MdxHeaderRegion region;
  std::string problem;
  RawTree tree;
  if (!MdxHeaderRegion::Parse(file, static_cast<int64_t>(file.size()), region, problem)) {
    tree.problem = problem;
    return tree;
  }
  for (int j = 1; j <= region.TagCount(); ++j) {
    const MdxTagSlot slot = region.Slot(j);
    if (slot.name != tagName) continue;
    MdxTagHeader header;
    const auto page = std::span(file).subspan(static_cast<size_t>(slot.headerBlock) * 512, 1024);
    if (!MdxTagHeader::Parse(page, 4, static_cast<int64_t>(file.size() / 512), header, problem)) {
      tree.problem = problem;
      return tree;
    }
    RawWalk(file, header.rootBlock, 0, header, tree, nullptr);
    return tree;
  }
  tree.problem = "no tag " + tagName;
  return tree;
}

// Appends a record and keeps the index file current.
void Append(KXO_dBaseFld& table, KXobjIndexFile& index, const Row& row) {
  table.BlankRecord();
  table.PutFieldByName("NAME", row.name);
  table.PutNumberByName("AMOUNT", row.amount);
  table.PutFieldByName("BORN", row.born);
  table.AppendRecord();
  index.KeyUpdateAll(table.RecordCount(), true);
}

// Rewrites record `n`: the index sees the new values and the record as it was read.
void Rewrite(KXO_dBaseFld& table, KXobjIndexFile& index, int32_t n, const Row& row) {
  table.GetRecord(n);
  table.PutFieldByName("NAME", row.name);
  table.PutNumberByName("AMOUNT", row.amount);
  table.PutFieldByName("BORN", row.born);
  index.KeyUpdateAll(n, false);
  table.PutRecord(n);
}

// ---------------------------------------------------------------------------------------
// New files and the tag table

TEST(MdxFile, NewFileAndFirstTagHaveTheDocumentedLayout) {
  TempDir dir;
  const std::string table = MakeTable(dir, "people.dbf", {});
  KXO_dBaseFld t(table, true, false);
  {
    KXobjMDXFile mdx(&t, "people", true, false, true, false);
    ASSERT_TRUE(mdx.Opened());
    EXPECT_EQ(fs::file_size(dir.File("people.mdx")), 2048u);
  }
  Bytes bytes = ReadBytes(dir.File("people.mdx"));
  EXPECT_EQ(bytes[0], 2);
  EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 11), std::string("people\0", 7));
  EXPECT_EQ(bytes[20], 2);
  EXPECT_EQ(ByteReader(bytes).U16LE(22), 1024);
  EXPECT_EQ(bytes[24], 1);
  EXPECT_EQ(bytes[25], 48);
  EXPECT_EQ(bytes[26], 32);
  EXPECT_EQ(ByteReader(bytes).U16LE(28), 0);
  EXPECT_EQ(ByteReader(bytes).U32LE(32), 4u);
  // The table named like the file is marked as having a production index.
  EXPECT_TRUE(t.ProductionIndexFlag());
  EXPECT_EQ(ReadBytes(table)[28] & 1, 1);

  {
    KXobjMDXFile mdx(&t, "people", true, false, true, false);
    mdx.TagAdd("name", "NAME", "", true, false);
    mdx.TagAdd("amount", "AMOUNT", "", true, false);
    mdx.TagAdd("born", "BORN", "", true, false);
  }
  bytes = ReadBytes(dir.File("people.mdx"));
  const ByteReader in(bytes);
  // Tag table in name order: AMOUNT, BORN, NAME; the first tag added (NAME) got the
  // header at block 4 and its root at block 6.
  EXPECT_EQ(in.Text(512 + 32 + 4, 6), std::string("AMOUNT"));
  EXPECT_EQ(in.Text(512 + 64 + 4, 4), std::string("BORN"));
  EXPECT_EQ(in.Text(512 + 96 + 4, 4), std::string("NAME"));
  EXPECT_EQ(in.U32LE(512 + 96), 4u);
  EXPECT_EQ(in.U32LE(4 * 512), 6u);
  // Entry length and keys per page: C(10) 16 and 63, D 12 and 84, N 16 and 63.
  const auto header = [&](int slot) { return in.U32LE(512 + 32 * slot) * 512; };
  EXPECT_EQ(in.U16LE(header(3) + 18), 16);
  EXPECT_EQ(in.U16LE(header(3) + 14), 63);
  EXPECT_EQ(in.U16LE(header(2) + 18), 12);
  EXPECT_EQ(in.U16LE(header(2) + 14), 84);
  EXPECT_EQ(in.U8(header(1) + 9), 'N');
  EXPECT_EQ(in.U16LE(header(1) + 18), 16);
  EXPECT_EQ(in.U16LE(header(1) + 14), 63);
  EXPECT_EQ(in.U32LE(32), fs::file_size(dir.File("people.mdx")) / 512);
}

TEST(MdxFile, TagTableKeepsNameOrderThroughAddsAndDeletes) {
  TempDir dir;
  const std::string table = MakeTable(dir, "t.dbf", {{"X", 1, "20240101"}});
  KXO_dBaseFld t(table, true, false);
  const auto slots = [&] {
    const Bytes bytes = ReadBytes(dir.File("t.mdx"));
    std::string names;
    std::string links;
    for (int j = 0; j <= ByteReader(bytes).U16LE(28); ++j) {
      const size_t at = 512 + 32 * static_cast<size_t>(j);
      if (j > 0) names += std::string(reinterpret_cast<const char*>(&bytes[at + 4])) + " ";
      links += std::to_string(bytes[at + 17]);
    }
    return names + "/" + links;
  };
  {
    KXobjMDXFile mdx(&t, "t", true, false, true, false);
    mdx.TagAdd("beta", "NAME", "", true, false);
    mdx.TagAdd("alpha", "AMOUNT", "", true, false);
    mdx.TagAdd("gamma", "BORN", "", true, false);
  }
  EXPECT_EQ(slots(), "ALPHA BETA GAMMA /1230");
  {
    KXobjMDXFile mdx(&t, "t", false, false, true, false);
    ASSERT_EQ(mdx.TagCount(), 3);
    EXPECT_EQ(mdx.TagAt(0)->TagName(), "ALPHA");
    EXPECT_EQ(mdx.TagDelete("Beta"), 1);
    EXPECT_EQ(mdx.TagDelete("nosuch"), 0);
    mdx.TagAdd("delta", "NAME", "", false, false);
    // Replacing a tag keeps one tag of that name.
    mdx.TagAdd("alpha", "NAME", "", true, false);
  }
  EXPECT_EQ(slots(), "ALPHA DELTA GAMMA /1230");
  {
    KXobjMDXFile mdx(&t, "t", false, false, true, false);
    EXPECT_EQ(mdx.TagByName("alpha")->KeyType(), 'C');
    EXPECT_FALSE(mdx.TagByName("delta")->Ascending());
    EXPECT_EQ(Recnos(Walk(mdx.TagByName("gamma"))), std::vector<int32_t>{1});
    for (const char* name : {"ALPHA", "DELTA", "GAMMA"}) EXPECT_EQ(mdx.TagDelete(name), 1);
    EXPECT_EQ(mdx.TagCount(), 0);
  }
  // Deleting the last tag cuts the file back to its header region.
  EXPECT_EQ(fs::file_size(dir.File("t.mdx")), 2048u);
  EXPECT_EQ(ByteReader(ReadBytes(dir.File("t.mdx"))).U16LE(28), 0);
}

TEST(MdxFile, RefusalsComeBeforeAnyByteIsWritten) {
  TempDir dir;
  const std::string table = MakeTable(dir, "t.dbf", {{"X", 1, ""}});
  KXO_dBaseFld t(table, true, false);
  KXobjMDXFile mdx(&t, "t", true, false, true, false);
  for (int i = 0; i < kMdxMaxTags; ++i)
    mdx.TagAdd(std::to_string(i).insert(0, 1, 'T'), "NAME", "", true, false);
  const Bytes before = ReadBytes(dir.File("t.mdx"));
  const auto refused = [&](const std::function<void()>& run) {
    const std::string error = ErrorOf(run);
    EXPECT_NE(error.find("5117"), std::string::npos) << error;
    EXPECT_NE(error.find("5114"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(dir.File("t.mdx")), before);
  };
  refused([&] { mdx.TagAdd("ONEMORE", "NAME", "", true, false); });
  // A tag of a name that exists is replaced, not added: that still works when full.
  EXPECT_EQ(ErrorOf([&] { mdx.TagAdd("T3", "AMOUNT", "", true, false); }), "");
  EXPECT_EQ(mdx.TagCount(), kMdxMaxTags);
  const Bytes full = ReadBytes(dir.File("t.mdx"));

  mdx.TagDelete("T0");
  const Bytes room = ReadBytes(dir.File("t.mdx"));
  const auto refusedHere = [&](const std::function<void()>& run) {
    const std::string error = ErrorOf(run);
    EXPECT_NE(error.find("5117"), std::string::npos) << error;
    EXPECT_EQ(ReadBytes(dir.File("t.mdx")), room);
  };
  refusedHere([&] { mdx.TagAdd("ELEVENCHARS", "NAME", "", true, false); });
  refusedHere([&] { mdx.TagAdd("", "NAME", "", true, false); });
  refusedHere([&] { mdx.TagAdd("LONGKEY", "NAME+" + std::string(216, 'X'), "", true, false); });
  refusedHere([&] {
    mdx.TagAdd("LONGFOR", "NAME", ".T." + std::string(260, ' ') + ".OR..T.", true, false);
  });
  refusedHere([&] { mdx.TagAdd("BADKEY", "NOSUCHFIELD", "", true, false); });
  refusedHere([&] { mdx.TagAdd("BADFOR", "NAME", "NOSUCHFIELD > 1", true, false); });
  EXPECT_EQ(mdx.TagCount(), kMdxMaxTags - 1);
  EXPECT_NE(full, room);
}

TEST(MdxFile, RenameWritesTheNewBaseNameIntoTheHeader) {
  TempDir dir;
  const std::string table = MakeTable(dir, "t.dbf", {{"X", 1, ""}});
  KXO_dBaseFld t(table, true, false);
  {
    KXobjMDXFile mdx(&t, "t", true, false, true, false);
    mdx.TagAdd("N", "NAME", "", true, false);
    ASSERT_TRUE(mdx.Rename("renamedfile"));
    EXPECT_EQ(mdx.FileName(), "renamedfile.mdx");
  }
  const Bytes bytes = ReadBytes(dir.File("renamedfile.mdx"));
  EXPECT_EQ(std::string(bytes.begin() + 4, bytes.begin() + 13), std::string("RENAMEDF\0", 9));
  KXobjMDXFile again(&t, dir.File("renamedfile.mdx"), false, false, false, false);
  EXPECT_EQ(Recnos(Walk(again.TagAt(0))), std::vector<int32_t>{1});
}

// ---------------------------------------------------------------------------------------
// Key order

TEST(MdxKeyOrder, NumbersDatesAndTextComeOutInValueOrder) {
  TempDir dir;
  const std::string table = MakeTable(dir, "t.dbf",
                                      {{"b", 45, "20240101"},
                                       {"B", -1, ""},
                                       {"a", 0, "19991231"},
                                       {"", -123, "20000229"},
                                       {"ab", 0.5, "18000101"}});
  KXO_dBaseFld t(table, true, false);
  KXobjMDXFile mdx(&t, "t", true, false, true, false);
  mdx.TagAdd("AMOUNT", "AMOUNT", "", true, false);
  mdx.TagAdd("BORN", "BORN", "", true, false);
  mdx.TagAdd("NAME", "NAME", "", true, false);
  mdx.TagAdd("DOWN", "AMOUNT", "", false, false);

  std::vector<double> amounts;
  for (const auto& w : Walk(mdx.TagByName("AMOUNT"))) amounts.push_back(w.number);
  EXPECT_EQ(amounts, (std::vector<double>{-123, -1, 0, 0.5, 45}));
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("DOWN"))), (std::vector<int32_t>{1, 5, 3, 2, 4}));
  // The empty date sorts after every real date.
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("BORN"))), (std::vector<int32_t>{5, 3, 4, 1, 2}));
  EXPECT_EQ(Walk(mdx.TagByName("BORN")).back().number, kMdxEmptyDate);
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("NAME"))), (std::vector<int32_t>{4, 2, 3, 5, 1}));

  // On disk: zero is 0x34 0x01, the descending tag has format bit 0x08 and its page
  // holds the keys in descending order.
  mdx.TagByName("DOWN")->FreePath();
  const Bytes bytes = ReadBytes(dir.File("t.mdx"));
  const auto* down = static_cast<KXobjMDXTag*>(mdx.TagByName("DOWN"));
  const ByteReader in(bytes);
  EXPECT_EQ(in.U8(static_cast<size_t>(down->HeaderBlock()) * 512 + 8), 0x18);
  const size_t root = static_cast<size_t>(down->Header().rootBlock) * 512;
  EXPECT_EQ(in.U32LE(root), 5u);
  EXPECT_EQ(in.U32LE(root + 8), 1u);  // 45 first
  EXPECT_EQ(in.U32LE(root + 8 + 16 * 2), 3u);
  const Bytes zero = {0x34, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  EXPECT_EQ(Bytes(bytes.begin() + root + 8 + 32 + 4, bytes.begin() + root + 8 + 32 + 16), zero);
}

TEST(MdxKeyOrder, SeeksFindKeysOfEveryType) {
  TempDir dir;
  const std::string table = MakeTable(
      dir, "t.dbf", {{"SMITH", 10.5, "20240101"}, {"SMYTHE", -3, ""}, {"JONES", 7, "19990101"}});
  KXO_dBaseFld t(table, true, false);
  KXobjMDXFile mdx(&t, "t", true, false, true, false);
  mdx.TagAdd("NAME", "NAME", "", true, false);
  mdx.TagAdd("AMOUNT", "AMOUNT", "", true, false);
  mdx.TagAdd("BORN", "BORN", "", false, false);
  t.SetExactMatch(true);
  KXobjIndexKeyData key(64);
  key.SetReference(0);
  key.SetText("SMYTHE");
  EXPECT_EQ(mdx.TagByName("NAME")->Seek(key), 2);
  key.SetText("SMI");
  EXPECT_EQ(mdx.TagByName("NAME")->Seek(key), 0);
  t.SetExactMatch(false);
  EXPECT_EQ(mdx.TagByName("NAME")->Seek(key), 1);
  key.SetFloat(-3);
  EXPECT_EQ(mdx.TagByName("AMOUNT")->Seek(key), 2);
  key.SetFloat(10.5);
  EXPECT_EQ(mdx.TagByName("AMOUNT")->Seek(key), 1);
  key.SetFloat(8);
  EXPECT_EQ(mdx.TagByName("AMOUNT")->Seek(key), 0);
  key.SetDate(GlobalDateConverter().EncodeDay(1999, 1, 1));
  EXPECT_EQ(mdx.TagByName("BORN")->Seek(key), 3);
}

TEST(MdxKeyOrder, UniqueAndForTagsKeepTheirKeys) {
  TempDir dir;
  const std::string table = MakeTable(
      dir, "t.dbf", {{"A", 1, ""}, {"B", 2, ""}, {"A", 3, ""}, {"C", -4, ""}, {"B", 5, ""}});
  KXO_dBaseFld t(table, true, false);
  KXobjMDXFile mdx(&t, "t", true, false, true, false);
  mdx.TagAdd("UNIQ", "NAME", "", true, true);
  mdx.TagAdd("POS", "NAME", "AMOUNT > 0", true, false);
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("UNIQ"))), (std::vector<int32_t>{1, 2, 4}));
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("POS"))), (std::vector<int32_t>{1, 3, 2, 5}));
  // A rewrite that makes the record fail the condition removes its key; one that adds a
  // duplicate to the unique tag changes nothing there.
  Rewrite(t, mdx, 3, {"A", -3, ""});
  Append(t, mdx, {"C", 6, ""});
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("POS"))), (std::vector<int32_t>{1, 2, 5, 6}));
  EXPECT_EQ(Recnos(Walk(mdx.TagByName("UNIQ"))), (std::vector<int32_t>{1, 2, 4}));
  // The FOR condition is kept in the tag header.
  KXobjMDXFile again(&t, "t", false, false, false, false);
  EXPECT_EQ(again.TagByName("POS")->ForExprText(), "AMOUNT > 0");
  EXPECT_TRUE(again.TagByName("UNIQ")->Unique());
}

// ---------------------------------------------------------------------------------------
// Maintenance

std::string RandomName(std::mt19937& rng) {
  std::uniform_int_distribution<int> length(0, 10), letter(0, 5);
  std::string name;
  for (int i = length(rng); i > 0; --i) name += static_cast<char>('A' + letter(rng));
  return name;
}

Row RandomRow(std::mt19937& rng) {
  std::uniform_int_distribution<int> cents(-500000, 500000), year(1900, 2030), day(1, 28),
      month(1, 12), blank(0, 9);
  char born[16];
  std::snprintf(born, sizeof born, "%04d%02d%02d", year(rng), month(rng), day(rng));
  return {RandomName(rng), blank(rng) == 0 ? 0 : cents(rng) / 100.0, blank(rng) == 0 ? "" : born};
}

// Checks every tag against the rows: the walk visits each qualifying record once, in key
// order, and the bytes hold the same tree.
void CheckTags(KXobjMDXFile& mdx, const std::string& path, const std::vector<Row>& rows) {
  for (int i = 0; i < mdx.TagCount(); ++i) {
    KXobjIndexTag* tag = mdx.TagAt(i);
    SCOPED_TRACE(tag->TagName());
    const std::vector<Walked> walk = Walk(tag);
    std::multiset<int32_t> expected;
    std::set<std::string> distinct;
    for (size_t r = 0; r < rows.size(); ++r) {
      if (tag->TagName() == "POSITIVE" && !(rows[r].amount > 0)) continue;
      if (tag->Unique() && !distinct.insert(rows[r].name).second) continue;
      expected.insert(static_cast<int32_t>(r + 1));
    }
    const std::vector<int32_t> recnos = Recnos(walk);
    if (tag->Unique()) {
      // A unique tag holds one record per key; after rewrites not every key of the table
      // need be there (the record that held it may have changed).
      ASSERT_LE(walk.size(), distinct.size());
      for (size_t k = 1; k < walk.size(); ++k) ASSERT_LT(walk[k - 1].text, walk[k].text);
    } else {
      ASSERT_EQ(std::multiset<int32_t>(recnos.begin(), recnos.end()), expected);
    }
    for (size_t k = 0; k < walk.size(); ++k) {
      const Row& row = rows[static_cast<size_t>(walk[k].recno - 1)];
      if (tag->KeyType() == 'C') {
        std::string name = row.name;
        while (!name.empty() && name.back() == ' ') name.pop_back();
        ASSERT_EQ(walk[k].text, name);
      } else if (tag->KeyType() == 'N') {
        ASSERT_EQ(walk[k].number, row.amount);
      }
      if (k == 0) continue;
      const bool inOrder = tag->KeyType() == 'C'
                               ? (tag->Ascending() ? walk[k - 1].text <= walk[k].text
                                                   : walk[k - 1].text >= walk[k].text)
                               : (tag->Ascending() ? walk[k - 1].number <= walk[k].number
                                                   : walk[k - 1].number >= walk[k].number);
      ASSERT_TRUE(inOrder) << "at " << k;
    }
    tag->FreePath();
    const RawTree raw = ReadRawTree(path, tag->TagName());
    ASSERT_EQ(raw.problem, "");
    ASSERT_EQ(raw.leaves.size(), walk.size());
    for (size_t k = 0; k < walk.size(); ++k) ASSERT_EQ(raw.leaves[k].second, walk[k].recno);
  }
}

TEST(MdxMaintenance, RandomAppendsAndRewritesKeepEveryTagInOrder) {
  TempDir dir;
  std::mt19937 rng(20240521);
  std::vector<Row> rows;
  for (int i = 0; i < 300; ++i) rows.push_back(RandomRow(rng));
  const std::string table = MakeTable(dir, "t.dbf", rows);
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("t.mdx");
  KXobjMDXFile mdx(&t, "t", true, false, true, false);
  mdx.TagAdd("NAME", "NAME", "", true, false);
  mdx.TagAdd("AMOUNT", "AMOUNT", "", true, false);
  mdx.TagAdd("BORN", "BORN", "", true, false);
  mdx.TagAdd("DOWN", "NAME", "", false, false);
  mdx.TagAdd("UNIQ", "NAME", "", true, true);
  mdx.TagAdd("POSITIVE", "AMOUNT", "AMOUNT > 0", true, false);
  CheckTags(mdx, path, rows);

  std::uniform_int_distribution<int> choose(0, 2);
  for (int round = 0; round < 6; ++round) {
    for (int op = 0; op < 400; ++op) {
      if (choose(rng) == 0 && !rows.empty()) {
        std::uniform_int_distribution<int32_t> pick(1, static_cast<int32_t>(rows.size()));
        const int32_t n = pick(rng);
        const Row row = RandomRow(rng);
        Rewrite(t, mdx, n, row);
        rows[static_cast<size_t>(n - 1)] = row;
      } else {
        rows.push_back(RandomRow(rng));
        Append(t, mdx, rows.back());
      }
    }
    SCOPED_TRACE("round " + std::to_string(round));
    CheckTags(mdx, path, rows);
  }
  // The trees grew by splits: several levels, many pages; the file header already records
  // where the next page goes.
  const RawTree name = ReadRawTree(path, "NAME");
  EXPECT_GE(name.depth, 1);
  EXPECT_GT(name.pages, 40);
  EXPECT_EQ(ByteReader(ReadBytes(path)).U32LE(32), fs::file_size(path) / 512);
  // What a later session reads is the same.
  KXobjMDXFile again(&t, "t", false, false, false, false);
  CheckTags(again, path, rows);
}

TEST(MdxMaintenance, ReindexRebuildsEveryTagFromTheTable) {
  TempDir dir;
  std::mt19937 rng(7);
  std::vector<Row> rows;
  for (int i = 0; i < 500; ++i) rows.push_back(RandomRow(rng));
  const std::string table = MakeTable(dir, "t.dbf", rows);
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("t.mdx");
  {
    KXobjMDXFile mdx(&t, "t", true, false, true, false);
    mdx.TagAdd("NAME", "NAME", "", true, false);
    mdx.TagAdd("AMOUNT", "AMOUNT", "", false, false);
    // Replacing a tag squeezes its old pages out.
    mdx.TagAdd("NAME", "NAME", "", true, false);
  }
  const auto grown = fs::file_size(path);
  {
    KXobjMDXFile mdx(&t, "t", false, false, true, false);
    mdx.Reindex();
    CheckTags(mdx, path, rows);
  }
  EXPECT_EQ(fs::file_size(path), grown);
  EXPECT_EQ(ByteReader(ReadBytes(path)).U32LE(32), fs::file_size(path) / 512);
}

// ---------------------------------------------------------------------------------------
// Real files

TEST(MdxFixtures, EveryTagOfEveryFixtureWalksItsWholeTree) {
  REQUIRE_SHARED();
  for (const auto& file : FixtureFiles(".mdx")) {
    SCOPED_TRACE(file.string());
    KXobjMDXFile mdx(nullptr, file.string(), false, false, false, false);
    ASSERT_TRUE(mdx.Opened());
    const Bytes bytes = ReadBytes(file);
    for (int i = 0; i < mdx.TagCount(); ++i) {
      KXobjIndexTag* tag = mdx.TagAt(i);
      const std::vector<Walked> walk = Walk(tag);
      const RawTree raw = ReadRawTree(file.string(), tag->TagName());
      EXPECT_EQ(raw.problem, "") << tag->TagName();
      ASSERT_EQ(walk.size(), raw.leaves.size()) << tag->TagName();
      for (size_t k = 0; k < walk.size(); ++k) {
        EXPECT_EQ(walk[k].recno, raw.leaves[k].second);
        // Numeric keys written by STEP 7 come back byte for byte from their value.
        if (tag->KeyType() == 'N' && file.string().find("step7") != std::string::npos) {
          const MdxNumber stored = MdxStoredNumber(walk[k].number);
          EXPECT_EQ(std::string(stored.begin(), stored.end()), raw.leaves[k].first)
              << tag->TagName() << " " << walk[k].number;
        }
      }
    }
  }
}

// Every fixture MDX with bytes changed one at a time, at the places that steer the reader
// (header fields, tag slots, tag headers, page counts and pointers), opens and walks or
// fails with an engine error: never a crash, a read outside the file or an endless walk.
TEST(MdxBadInput, DamagedFixturesFailCleanly) {
  REQUIRE_SHARED();
  TempDir dir;
  int opened = 0, refused = 0, serial = 0;
  const auto openAndWalk = [&](const std::string& path) {
    try {
      KXobjMDXFile mdx(nullptr, path, false, false, false, false);
      for (int i = 0; i < mdx.TagCount(); ++i) Walk(mdx.TagAt(i));
      ++opened;
    } catch (const ETolvernError&) {
      ++refused;
    }
  };
  for (const auto& file : FixtureFiles(".mdx")) {
    const Bytes original = ReadBytes(file);
    std::vector<size_t> places;
    for (size_t i = 0; i < std::min<size_t>(original.size(), 48); ++i) places.push_back(i);
    for (size_t j = 0; j < 4 && 512 + 32 * j + 32 <= original.size(); ++j)
      for (size_t k = 0; k < 21; ++k) places.push_back(512 + 32 * j + k);
    // Tag headers and pages alike: the words that count, point and size.
    const size_t blocks = original.size() / 512;
    const size_t step = std::max<size_t>(2, blocks / 16 * 2);
    for (size_t block = 4; block * 512 + 256 <= original.size(); block += step)
      for (size_t k : {0, 1, 3, 4, 8, 9, 12, 14, 18, 24, 40, 56, 245})
        places.push_back(block * 512 + k);

    // One copy, changed in place a byte at a time and put back after each walk.
    const std::string path = dir.File("damaged" + std::to_string(++serial) + ".mdx");
    WriteBytes(path, original);
    std::fstream io(path, std::ios::in | std::ios::out | std::ios::binary);
    const auto poke = [&](size_t place, uint8_t value) {
      io.seekp(static_cast<std::streamoff>(place));
      io.put(static_cast<char>(value));
      io.flush();
    };
    for (size_t place : places) {
      for (uint8_t value : {0x00, 0x01, 0xFF}) {
        if (original[place] == value) continue;
        poke(place, value);
        openAndWalk(path);
        poke(place, original[place]);
      }
    }
    // Cut short anywhere.
    for (size_t size = 0; size < original.size(); size += 509) {
      const std::string cut = dir.File("cut" + std::to_string(++serial) + ".mdx");
      WriteBytes(cut, Bytes(original.begin(), original.begin() + static_cast<long>(size)));
      openAndWalk(cut);
    }
  }
  EXPECT_GT(opened, 0);
  EXPECT_GT(refused, 0);
}

TEST(MdxBadInput, PagesThatLoopOrPointOutsideAreEngineErrors) {
  TempDir dir;
  const std::string table = MakeTable(dir, "t.dbf", {});
  KXO_dBaseFld t(table, true, false);
  {
    KXobjMDXFile mdx(&t, "t", true, false, true, false);
    for (int i = 0; i < 200; ++i) Append(t, mdx, {std::to_string(1000 + i), 1.0 * i, ""});
    mdx.TagAdd("NAME", "NAME", "", true, false);
  }
  const Bytes good = ReadBytes(dir.File("t.mdx"));
  const uint32_t root = ByteReader(good).U32LE(4 * 512);
  ASSERT_GT(ByteReader(good).U32LE(root * 512 + 8 + 16 * ByteReader(good).U32LE(root * 512)), 0u);
  const auto fails = [&](size_t at, uint32_t value) {
    Bytes bad = good;
    ByteWriter(bad).U32LE(at, value);
    WriteBytes(dir.File("bad.mdx"), bad);
    KXobjMDXFile mdx(nullptr, dir.File("bad.mdx"), false, false, false, false);
    return ErrorOf([&] { Walk(mdx.TagAt(0)); });
  };
  // The first child of the root pointing back at the root, past the end, into the header.
  EXPECT_NE(fails(root * 512 + 8, root).find("2112"), std::string::npos);
  EXPECT_NE(fails(root * 512 + 8, 100000).find("2112"), std::string::npos);
  EXPECT_NE(fails(root * 512 + 8, 2).find("2112"), std::string::npos);
  // A key count beyond the page.
  EXPECT_NE(fails(root * 512, 70).find("2112"), std::string::npos);
}

}  // namespace
}  // namespace tolvern
