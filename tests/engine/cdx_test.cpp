// CDX files through the engine: the empty file, tag creation, replacement and deletion,
// every fixture CDX walked against the other programs' readings, key maintenance under
// random appends and rewrites, files Perl XBase reads back, and damaged files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <random>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "kx6_DBF.h"
#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_cdx.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_glbl.h"
#include "kx6_sql.h"
#include "kx6_tool.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::FixtureFiles;
using fendral::test::FixturesDir;
using fendral::test::ReadBytes;
using fendral::test::ReadText;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

// A table that keeps its index files current on every write, as the table handler does.
class IndexedTable : public KXO_dBaseFld {
 public:
  explicit IndexedTable(const std::string& name) : KXO_dBaseFld(name, true, false) {}
  std::vector<KXobjIndexFile*> indexes;
  bool RecordEvent(int event, int32_t number) override {
    const bool result = KXO_dBaseFld::RecordEvent(event, number);
    if (event == kEventAfterWrite) {
      for (KXobjIndexFile* file : indexes) file->KeyUpdateAll(CurrentRecord(), number == 0);
    }
    return result;
  }
};

// One key of a walk: the record and the key as text (numbers with 17 digits, dates as
// YYYYMMDD, other raw keys in hex).
struct Key {
  int32_t recno;
  std::string text;
  bool operator==(const Key&) const = default;
};

std::string KeyText(const KXobjCDXTag& tag, const TkxVariant& stored) {
  TkxVariant value;
  tag.KeyValue(stored, value);
  char buffer[64];
  switch (value.VariantType()) {
    case TkxVariant::kFloat:
      std::snprintf(buffer, sizeof buffer, "%.17g", value.AsFloat());
      return buffer;
    case TkxVariant::kDate:
      return TrimRight(GlobalDateConverter().StorageForm(value.AsDate()));
    case TkxVariant::kText:
      return value.AsText();
    default: {
      std::string hex;
      for (int32_t i = 0; i < value.Length(); ++i) {
        std::snprintf(buffer, sizeof buffer, "%02x", value.Data()[i]);
        hex += buffer;
      }
      return hex;
    }
  }
}

// Every key of a tag in walk order; stops after `limit` keys (a walk that repeats).
std::vector<Key> Walk(KXobjCDXTag& tag, size_t limit = 5000000) {
  std::vector<Key> keys;
  for (int32_t recno = tag.Goto(PosTop); !tag.Eof() && keys.size() < limit;
       recno = tag.Goto(PosNext))
    keys.push_back({recno, KeyText(tag, tag.CurrentKey())});
  tag.FreePath();
  return keys;
}

struct Field {
  std::string name;
  char type;
  int length;
  int decimals = 0;
};

void MakeTable(const std::string& path, const std::vector<Field>& fields) {
  KXO_DBFBuild builder(path);
  for (const Field& f : fields) builder.AddField(f.name, f.type, f.length, f.decimals);
  builder.WriteTable();
}

// A table of people with every key type, filled from a fixed seed.
struct People {
  std::mt19937 rng{20240601};
  static std::vector<Field> Fields() {
    return {{"NAME", 'C', 20},
            {"CITY", 'C', 12},
            {"AMOUNT", 'N', 10, 2},
            {"BORN", 'D', 8},
            {"ACTIVE", 'L', 1}};
  }
  void Fill(KXO_dBaseFld& table) {
    static const char* names[] = {"Smith",
                                  "SMITHSON",
                                  "van Dijk",
                                  "",
                                  " Lead",
                                  "Ng",
                                  "M\xFCller",
                                  "Zed",
                                  "Adams",
                                  "Stra\xDF"
                                  "e"};
    static const char* cities[] = {"Oslo", "Lima", "Bern", "Riga", "Apia", "Baku"};
    table.BlankRecord();
    std::string name = names[rng() % 10];
    if (rng() % 3 == 0) name.append(" ").append(std::to_string(rng() % 500));
    table.PutFieldByName("NAME", name);
    table.PutFieldByName("CITY", cities[rng() % 6]);
    table.PutNumberByName("AMOUNT",
                          static_cast<double>(static_cast<int>(rng() % 200001) - 100000) / 100);
    table.PutDateByName("BORN",
                        rng() % 12 == 0 ? 0 : 2415021 + static_cast<int32_t>(rng() % 40000));
    table.PutLogicalByName("ACTIVE", rng() % 2 == 0);
  }
};

struct TagDef {
  std::string name, key, forExpr;
  bool ascending = true;
  bool unique = false;
  CdxCollation collation = CdxCollation::Machine;
};

const std::vector<TagDef>& PeopleTags() {
  static const std::vector<TagDef> tags = {
      {"NAME", "NAME", ""},
      {"AMOUNT", "AMOUNT", ""},
      {"BORN", "BORN", ""},
      {"NAMED", "NAME", "", false},
      {"CITYU", "CITY", "", true, true},
      {"ACTFOR", "NAME", "ACTIVE .AND. AMOUNT > 0"},
      {"CITYAM", "UPPER(CITY)+STR(AMOUNT,10,2)", ""},
      {"ACTIVE", "ACTIVE", ""},
      {"GNAME", "NAME", "", true, false, CdxCollation::General},
  };
  return tags;
}

void AddTags(KXobjCDXFile& file, const std::vector<TagDef>& tags) {
  for (const TagDef& t : tags) {
    file.SetNewTagCollation(t.collation);
    file.TagAdd(t.name, t.key, t.forExpr, t.ascending, t.unique);
  }
}

KXobjCDXTag& TagOf(KXobjCDXFile& file, const std::string& name) {
  auto* tag = static_cast<KXobjCDXTag*>(file.TagByName(name));
  if (!tag) throw std::runtime_error("no tag " + name);
  return *tag;
}

// The keys a table's tag must hold, from the records themselves: sorted by key bytes
// then record number (reversed for descending tags), FOR and unique applied.
std::vector<Key> ExpectedKeys(KXO_dBaseFld& table, KXobjCDXTag& tag) {
  struct Item {
    std::string stored;
    Key key;
  };
  std::vector<Item> items;
  TkxExpHandler key(table.ExpressionLink(), tag.KeyExprText());
  std::unique_ptr<TkxExpHandler> condition;
  if (!tag.ForExprText().empty())
    condition = std::make_unique<TkxExpHandler>(table.ExpressionLink(), tag.ForExprText());
  for (int32_t r = 1; r <= table.RecordCount(); ++r) {
    table.GetRecord(r);
    if (condition) {
      TkxExpValue v;
      condition->EvaluateToBuffer(v);
      if (!(v.type == kExpLogical && v.logical)) continue;
    }
    KXobjIndexKeyData value(256);
    key.EvaluateToVariant(value);
    tag.KeyAdjust(value);
    const std::string stored(reinterpret_cast<const char*>(value.Data()),
                             static_cast<size_t>(value.IsEmpty() ? 0 : value.Length()));
    items.push_back({stored, {r, KeyText(tag, value)}});
  }
  std::stable_sort(items.begin(), items.end(),
                   [](const Item& a, const Item& b) { return a.stored < b.stored; });
  if (tag.Unique()) {
    std::vector<Item> kept;
    for (const Item& item : items)
      if (kept.empty() || kept.back().stored != item.stored) kept.push_back(item);
    items = kept;
  }
  std::vector<Key> keys;
  for (const Item& item : items) keys.push_back(item.key);
  if (tag.Descending()) std::reverse(keys.begin(), keys.end());
  return keys;
}

// Levels of a tag's tree, counted down its first entries.
int TreeLevels(const std::vector<uint8_t>& bytes, KXobjCDXTag& tag) {
  ByteReader r(bytes.data(), bytes.size());
  uint32_t page = r.U32LE(static_cast<size_t>(tag.HeaderOffset()));
  int levels = 1;
  while (!(r.U16LE(page) & kCdxAttrLeaf) && levels < 64) {
    page = r.U32BE(page + 12 + static_cast<size_t>(tag.KeyLength()) + 4);
    ++levels;
  }
  return levels;
}

uint16_t U16At(const std::vector<uint8_t>& bytes, size_t at) {
  return ByteReader(bytes.data(), bytes.size()).U16LE(at);
}
uint32_t U32At(const std::vector<uint8_t>& bytes, size_t at) {
  return ByteReader(bytes.data(), bytes.size()).U32LE(at);
}

// ---------------------------------------------------------------------------------------
// File layout

TEST(CdxFile, NewFileIsTheDirectoryAndOneEmptyRootLeaf) {
  TempDir dir;
  MakeTable(dir.File("t.dbf"), People::Fields());
  {
    KXO_dBaseFld table(dir.File("t.dbf"), true, false);
    KXobjCDXFile file(&table, dir.File("other.cdx"), true, false, true, false);
    EXPECT_EQ(file.TagCount(), 0);
  }
  const auto bytes = ReadBytes(dir.File("other.cdx"));
  ASSERT_EQ(bytes.size(), 1536u);
  EXPECT_EQ(U32At(bytes, 0), 1024u);
  EXPECT_EQ(U16At(bytes, 12), 10);
  EXPECT_EQ(bytes[14], 0xE0);
  EXPECT_EQ(bytes[15], 1);
  EXPECT_EQ(U16At(bytes, 504), 1);
  EXPECT_EQ(U16At(bytes, 510), 1);
  EXPECT_EQ(U16At(bytes, 1024), 3);
  EXPECT_EQ(U16At(bytes, 1026), 0);
  EXPECT_EQ(U32At(bytes, 1028), kCdxNoPage);
  EXPECT_EQ(U32At(bytes, 1032), kCdxNoPage);
  EXPECT_EQ(U16At(bytes, 1036), 488);
  EXPECT_EQ(bytes[1024 + 23], 3);
  // A table named otherwise is not marked as having a production index.
  EXPECT_FALSE(KXO_dBaseFld(dir.File("t.dbf"), false, false).ProductionIndexFlag());
}

TEST(CdxFile, TagsAreAddedReplacedAndDeleted) {
  TempDir dir;
  const std::string table = dir.File("people.dbf"), index = dir.File("people.cdx");
  MakeTable(table, People::Fields());
  {
    KXO_dBaseFld t(table, true, false);
    KXobjCDXFile file(&t, index, true, false, true, false);
    file.TagAdd("name", "NAME", "", true, false);
    // A tag on an empty table is one empty root leaf.
    const auto bytes = ReadBytes(index);
    EXPECT_EQ(bytes.size(), 1536u + 1024 + 512);
    EXPECT_EQ(U16At(bytes, 1536 + 12), 20);
    EXPECT_EQ(bytes[1536 + 14], 0x60);
    EXPECT_EQ(U16At(bytes, 2560), 3);
    EXPECT_EQ(U16At(bytes, 2562), 0);
    EXPECT_EQ(std::string(bytes.begin() + 2048, bytes.begin() + 2052), std::string("NAME", 4));

    // Refusals leave the file as it was: a name too long for the directory, a key
    // expression without value, a FOR condition that is not logical.
    auto refused = [&](const std::string& name, const std::string& key, const std::string& cond) {
      try {
        file.TagAdd(name, key, cond, true, false);
      } catch (const ETolvernError& e) {
        return std::string(e.what());
      } catch (const ETolvernExpression&) {
        return std::string("expression");
      }
      return std::string();
    };
    EXPECT_NE(refused("ELEVENCHARS", "NAME", "").find("5117"), std::string::npos);
    EXPECT_NE(refused("", "NAME", "").find("Tag Field is Empty"), std::string::npos);
    EXPECT_EQ(refused("BAD", "NOSUCHFIELD", ""), "expression");
    EXPECT_NE(refused("BAD", "NAME", "CITY").find("5117"), std::string::npos);
    EXPECT_EQ(ReadBytes(index), bytes);
    EXPECT_EQ(file.TagCount(), 1);

    file.TagAdd("AMOUNT", "AMOUNT", "", false, false);
    file.TagAdd("NAME", "UPPER(NAME)", "", true, false);  // replaces, in the old pages
    EXPECT_EQ(fs::file_size(index), 1536u + 2 * 1536);
    ASSERT_EQ(file.TagCount(), 2);
    EXPECT_EQ(file.TagAt(1)->KeyExprText(), "UPPER(NAME)");
  }
  {
    KXO_dBaseFld t(table, true, false);
    EXPECT_TRUE(t.ProductionIndexFlag());
    KXobjCDXFile file(&t, index, false, false, true, false);
    ASSERT_EQ(file.TagCount(), 2);  // directory order
    EXPECT_EQ(file.TagAt(0)->TagName(), "AMOUNT");
    EXPECT_TRUE(static_cast<KXobjCDXTag*>(file.TagAt(0))->Descending());
    EXPECT_EQ(file.TagAt(1)->KeyExprText(), "UPPER(NAME)");
    EXPECT_EQ(file.TagDelete("nothing"), 0);
    EXPECT_EQ(file.TagDelete("amount"), 1);
    EXPECT_EQ(file.TagCount(), 1);
    file.Reindex();
    EXPECT_EQ(fs::file_size(index), 1536u + 1536);
    EXPECT_EQ(file.TagDelete("NAME"), 1);
  }
  EXPECT_EQ(fs::file_size(index), 1536u);
}

// The header fields of new tags: descending word, FOR text, GENERAL name and signature,
// unique bit, and GENERAL keys twice as long as the value.
TEST(CdxFile, NewTagHeadersDescribeTheirTags) {
  TempDir dir;
  const std::string table = dir.File("p.dbf"), index = dir.File("p.cdx");
  MakeTable(table, People::Fields());
  KXO_dBaseFld t(table, true, false);
  {
    KXobjCDXFile file(&t, index, true, false, true, false);
    AddTags(file, PeopleTags());
  }
  KXobjCDXFile file(&t, index, false, false, false, false);
  const auto bytes = ReadBytes(index);
  auto header = [&](const std::string& name) {
    return static_cast<size_t>(TagOf(file, name).HeaderOffset());
  };
  EXPECT_EQ(U16At(bytes, header("NAMED") + 502), 1);
  EXPECT_EQ(U16At(bytes, header("NAME") + 502), 0);
  EXPECT_EQ(bytes[header("CITYU") + 14], 0x61);
  EXPECT_EQ(bytes[header("ACTFOR") + 14], 0x68);
  const size_t actfor = header("ACTFOR");
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[actfor + 512 + 5])),
            "ACTIVE .AND. AMOUNT > 0");
  EXPECT_EQ(U16At(bytes, actfor + 506), 24);
  const size_t general = header("GNAME");
  EXPECT_EQ(bytes[general + 15], 2);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(&bytes[general + 494])), "GENERAL");
  EXPECT_EQ(U16At(bytes, general + 12), 40);
  EXPECT_EQ(U16At(bytes, header("AMOUNT") + 12), 8);
  EXPECT_EQ(TagOf(file, "BORN").KeyType(), 'D');
  for (int i = 0; i < file.TagCount(); ++i) EXPECT_TRUE(file.TagAt(i)->Maintainable());
}

// ---------------------------------------------------------------------------------------
// Building, seeking and maintenance

TEST(CdxBuild, TagsHoldTheTablesKeysInOrder) {
  TempDir dir;
  const std::string table = dir.File("p.dbf"), index = dir.File("p.cdx");
  MakeTable(table, People::Fields());
  KXO_dBaseFld t(table, true, false);
  People people;
  for (int i = 0; i < 3000; ++i) {
    people.Fill(t);
    t.AppendRecord();
  }
  KXobjCDXFile file(&t, index, true, false, true, false);
  AddTags(file, PeopleTags());
  for (const TagDef& def : PeopleTags()) {
    KXobjCDXTag& tag = TagOf(file, def.name);
    EXPECT_EQ(Walk(tag), ExpectedKeys(t, tag)) << def.name;
  }
  // Seeks: exact and partial character keys, numbers from text or numbers, dates.
  t.SetExactMatch(false);
  KXobjCDXTag& name = TagOf(file, "NAME");
  KXobjIndexKeyData probe;
  probe.SetText("SMITHS");
  EXPECT_GT(name.Seek(probe), 0);
  EXPECT_EQ(name.CurrentKey().AsText().substr(0, 8), "SMITHSON");
  t.SetExactMatch(true);
  EXPECT_EQ(name.Seek(probe), 0);
  KXobjCDXTag& amount = TagOf(file, "AMOUNT");
  const std::vector<Key> amounts = Walk(amount);
  probe.SetFloat(std::stod(amounts[1234].text));
  EXPECT_GT(amount.Seek(probe), 0);
  EXPECT_EQ(KeyText(amount, amount.CurrentKey()), amounts[1234].text);
  probe.SetText("-1000000");
  EXPECT_EQ(amount.Seek(probe), 0);  // below every key: positioned on the first
  EXPECT_EQ(amount.CurrentRecord(), amounts[0].recno);
  KXobjCDXTag& born = TagOf(file, "BORN");
  const std::vector<Key> days = Walk(born);
  const Key& some = days[days.size() / 2];
  probe.SetText(some.text);
  EXPECT_GT(born.Seek(probe), 0);
  EXPECT_EQ(KeyText(born, born.CurrentKey()), some.text);
  KXobjCDXTag& general = TagOf(file, "GNAME");
  t.SetExactMatch(false);
  probe.SetText("STRASSE");  // the table holds Straße
  EXPECT_GT(general.Seek(probe), 0);
}

// Random appends and rewrites (fixed seed): after each batch every tag walks exactly
// like a tag built afresh; leaves, branches and the root split along the way, and the
// record-number field widens past 65,535 records.
TEST(CdxMaintenance, RandomWritesKeepEveryTagEqualToAFreshBuild) {
  TempDir dir;
  const std::string table = dir.File("m.dbf"), index = dir.File("m.cdx");
  MakeTable(table, People::Fields());
  People people;
  {
    // Start near the width limit of three-byte entries, built in bulk.
    KXO_dBaseFld t(table, true, false);
    for (int i = 0; i < 65500; ++i) {
      people.Fill(t);
      t.AppendRecord();
    }
  }
  IndexedTable t(table);
  KXobjCDXFile file(&t, index, true, false, true, false);
  const std::vector<TagDef>& tags = PeopleTags();
  AddTags(file, tags);
  t.indexes.push_back(&file);
  const int startLevels = TreeLevels(ReadBytes(index), TagOf(file, "NAME"));
  std::mt19937 rng(99);
  for (int batch = 0; batch < 4; ++batch) {
    for (int i = 0; i < 60; ++i) {
      if (rng() % 3 == 0) {
        people.Fill(t);
        t.AppendRecord();
      } else {
        const int32_t r = 1 + static_cast<int32_t>(rng() % static_cast<uint32_t>(t.RecordCount()));
        t.GetRecord(r);
        people.Fill(t);
        t.PutRecord(r);
      }
    }
    const std::string fresh = dir.File("fresh" + std::to_string(batch) + ".cdx");
    KXobjCDXFile rebuilt(&t, fresh, true, false, true, false);
    AddTags(rebuilt, tags);
    for (const TagDef& def : tags) {
      EXPECT_EQ(Walk(TagOf(file, def.name)), Walk(TagOf(rebuilt, def.name)))
          << def.name << " after batch " << batch;
    }
  }
  EXPECT_GT(t.RecordCount(), 65535);
  // The rightmost leaf of NAME, rewritten after the table passed 65,535 records, has
  // four-byte entries.
  KXobjCDXTag& name = TagOf(file, "NAME");
  name.Goto(PosBottom);
  const int32_t leaf = [&] {
    KXobjIndexKey* node = name.RootNode();
    while (node->Child()) node = node->Child();
    return node->PageNo();
  }();
  name.FreePath();
  EXPECT_EQ(ReadBytes(index).at(static_cast<size_t>(leaf) + 23), 4);
  EXPECT_GE(startLevels, 3);
}

// Leaf splits, branch splits and root growth from an empty tag, with long keys so that
// every level splits many times; each step keeps the walk equal to a model.
TEST(CdxMaintenance, InsertsFromEmptySplitEveryLevel) {
  TempDir dir;
  const std::string table = dir.File("s.dbf"), index = dir.File("s.cdx");
  MakeTable(table, {{"TEXT", 'C', 120}, {"NUM", 'N', 8}});
  IndexedTable t(table);
  KXobjCDXFile file(&t, index, true, false, true, false);
  file.TagAdd("TEXT", "TEXT", "", true, false);
  file.TagAdd("NUMD", "NUM", "", false, false);
  t.indexes.push_back(&file);
  std::mt19937 rng(7);
  std::vector<std::pair<std::string, int32_t>> model;
  for (int i = 1; i <= 1500; ++i) {
    t.BlankRecord();
    std::string text =
        std::string(100, 'A' + static_cast<char>(rng() % 3)) + std::to_string(rng() % 800);
    t.PutFieldByName("TEXT", text);
    t.PutNumberByName("NUM", static_cast<double>(rng() % 50));
    t.AppendRecord();
    model.emplace_back(text, i);
    if (i % 500 == 0) {
      std::sort(model.begin(), model.end());
      const std::vector<Key> keys = Walk(TagOf(file, "TEXT"));
      ASSERT_EQ(keys.size(), model.size());
      for (size_t k = 0; k < keys.size(); ++k) {
        ASSERT_EQ(keys[k].text, model[k].first) << k;
        ASSERT_EQ(keys[k].recno, model[k].second) << k;
      }
      EXPECT_EQ(Walk(TagOf(file, "NUMD")), ExpectedKeys(t, TagOf(file, "NUMD")));
    }
  }
  // The leaf chain other programs follow holds the same keys in the same order.
  const auto bytes = ReadBytes(index);
  KXobjCDXTag& tag = TagOf(file, "TEXT");
  EXPECT_GE(TreeLevels(bytes, tag), 3);  // a branch level split, so the root grew twice
  uint32_t page = U32At(bytes, static_cast<size_t>(tag.HeaderOffset()));
  while (!(U16At(bytes, page) & kCdxAttrLeaf))
    page = ByteReader(bytes.data(), bytes.size()).U32BE(page + 12 + 120 + 4);
  size_t chained = 0;
  uint32_t left = kCdxNoPage;
  while (page != kCdxNoPage && chained < model.size() + 1) {
    EXPECT_EQ(U32At(bytes, page + 4), left);
    chained += U16At(bytes, page + 2);
    left = page;
    page = U32At(bytes, page + 8);
  }
  EXPECT_EQ(chained, model.size());
}

// Deleting keys (rewrites that fail the FOR condition) empties leaves; emptied pages
// leave the sibling chain and the tree.
TEST(CdxMaintenance, EmptiedLeavesLeaveTheChain) {
  TempDir dir;
  const std::string table = dir.File("e.dbf"), index = dir.File("e.cdx");
  MakeTable(table, {{"TEXT", 'C', 60}, {"KEEP", 'L', 1}});
  IndexedTable t(table);
  for (int i = 0; i < 400; ++i) {
    t.BlankRecord();
    t.PutFieldByName("TEXT", std::string("K").append(std::to_string(1000 + i)));
    t.PutLogicalByName("KEEP", true);
    t.AppendRecord();
  }
  KXobjCDXFile file(&t, index, true, false, true, false);
  file.TagAdd("KEPT", "TEXT", "KEEP", true, false);
  t.indexes.push_back(&file);
  for (int32_t r = 1; r <= 400; ++r) {
    if (r % 50 == 0) continue;
    t.GetRecord(r);
    t.PutLogicalByName("KEEP", false);
    t.PutRecord(r);
  }
  const std::vector<Key> keys = Walk(TagOf(file, "KEPT"));
  ASSERT_EQ(keys.size(), 8u);
  EXPECT_EQ(keys.front().recno, 50);
  const auto bytes = ReadBytes(index);
  uint32_t page = U32At(bytes, static_cast<size_t>(TagOf(file, "KEPT").HeaderOffset()));
  while (!(U16At(bytes, page) & kCdxAttrLeaf))
    page = ByteReader(bytes.data(), bytes.size()).U32BE(page + 12 + 60 + 4);
  int pages = 0, chained = 0;
  for (; page != kCdxNoPage && pages < 100; page = U32At(bytes, page + 8), ++pages) {
    EXPECT_GT(U16At(bytes, page + 2), 0);
    chained += U16At(bytes, page + 2);
  }
  EXPECT_EQ(chained, 8);
}

// Another process's writes show in the change counter of the directory header.
TEST(CdxMaintenance, OtherWritersAreSeenThroughTheChangeCounter) {
  TempDir dir;
  const std::string table = dir.File("c.dbf"), index = dir.File("c.cdx");
  MakeTable(table, People::Fields());
  {
    KXO_dBaseFld t(table, true, false);
    KXobjCDXFile file(&t, index, true, false, true, false);
    file.TagAdd("NAME", "NAME", "", true, false);
  }
  KXO_dBaseFld reader(table, false, true);
  KXobjCDXFile seen(&reader, index, false, false, false, true);
  EXPECT_FALSE(seen.ExternalChange());
  {
    IndexedTable t(table);
    KXobjCDXFile file(&t, index, false, false, true, true);
    t.indexes.push_back(&file);
    People people;
    people.Fill(t);
    t.AppendRecord();
    EXPECT_EQ(file.ChangeCounter(), 1u);
  }
  EXPECT_TRUE(seen.ExternalChange());
  EXPECT_FALSE(seen.ExternalChange());
  reader.RefreshHeader();
  EXPECT_EQ(Walk(TagOf(seen, "NAME")).size(), 1u);
}

// ---------------------------------------------------------------------------------------
// Other programs' files

// The table beside a CDX file (same name, any case), if there is one.
std::string TableFor(const fs::path& cdx) {
  std::string base = cdx.stem().string();
  if (cdx.filename() == "foxext.cdx") base = "fox";
  for (const auto& entry : fs::directory_iterator(cdx.parent_path())) {
    const std::string name = entry.path().filename().string();
    if (CompareTextNoCase(name, base + ".dbf") == 0) return entry.path().string();
  }
  return {};
}

std::unique_ptr<KXO_dBaseFld> OpenTable(const std::string& path) {
  if (path.empty()) return nullptr;
  try {
    return std::make_unique<KXO_dBaseFld>(path, false, false);
  } catch (const std::exception&) {
    return nullptr;
  }
}

// Perl XBase's reading of a tag: record numbers and keys. Perl finds the key type from
// the table's fields; for other expressions it is told the type.
std::vector<Key> PerlKeys(const std::string& cdx, const std::string& tag, const std::string& dbf,
                          const char* type = "char") {
  std::string out;
  const std::string script = (SharedDir() / "peers/dump_table.pl").string();
  const std::string command =
      "perl '" + script + "' --index '" + cdx + "' --tag '" + tag + "' '" + dbf + "' 2>/dev/null";
  if (RunCommand(command, &out) != 0 &&
      RunCommand("perl '" + script + "' --type " + type + " --index '" + cdx + "' --tag '" + tag +
                     "' '" + dbf + "' 2>/dev/null",
                 &out) != 0)
    return {};
  std::vector<Key> keys;
  std::istringstream lines(out);
  std::string line;
  const std::regex row("^\\{\"key\":(.*),\"recno\":(\\d+)\\}$");
  while (std::getline(lines, line)) {
    std::smatch m;
    if (!std::regex_match(line, m, row)) continue;
    std::string key = m[1];
    if (key.size() >= 2 && key.front() == '"') key = key.substr(1, key.size() - 2);
    // Perl XBase fills the previous key's trailing blanks with NULs when a key shares
    // them ("Devon" then "Devon Park"); the table holds blanks.
    keys.push_back({std::stoi(m[2]), std::regex_replace(key, std::regex("\\\\u0000"), " ")});
  }
  return keys;
}

// The expected listing of a Harbour-written tag.
std::vector<Key> HarbourKeys(const fs::path& tsv) {
  std::vector<Key> keys;
  std::istringstream lines(ReadText(tsv));
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '#') continue;
    const size_t tab = line.find('\t');
    keys.push_back({std::stoi(line.substr(0, tab)),
                    tab == std::string::npos ? std::string() : line.substr(tab + 1)});
  }
  return keys;
}

bool SameKeyText(const Key& ours, const Key& theirs, char type) {
  if (type == 'N') {
    return std::fabs(std::stod(ours.text) - std::stod(theirs.text)) <=
           1e-9 * std::max(1.0, std::fabs(std::stod(theirs.text)));
  }
  return TrimRight(ours.text) == TrimRight(theirs.text);
}

// Every tag of every Harbour-written CDX walks in the order of its expected listing,
// with the listed keys.
TEST(CdxFixtures, HarbourTagsWalkInTheirExpectedOrder) {
  REQUIRE_SHARED();
  const fs::path folder = FixturesDir() / "peer-harbour";
  std::istringstream manifest(ReadText(folder / "manifest.tsv"));
  std::string line;
  int compared = 0;
  while (std::getline(manifest, line)) {
    std::vector<std::string> cols;
    std::stringstream row(line);
    for (std::string col; std::getline(row, col, '\t');) cols.push_back(col);
    if (cols.size() < 13 || cols[0][0] == '#' || cols[2] != "DBFCDX") continue;
    SCOPED_TRACE(cols[0]);
    auto table = OpenTable((folder / cols[1]).string());
    ASSERT_TRUE(table);
    KXobjCDXFile file(table.get(), (folder / cols[3]).string(), false, false, false, false);
    auto* tag = static_cast<KXobjCDXTag*>(file.TagByName(cols[4]));
    ASSERT_TRUE(tag);
    EXPECT_TRUE(tag->Maintainable()) << tag->ReadOnlyReason();
    const std::vector<Key> ours = Walk(*tag);
    const std::vector<Key> theirs = HarbourKeys(folder / cols[0]);
    ASSERT_EQ(ours.size(), theirs.size());
    ASSERT_EQ(ours.size(), static_cast<size_t>(std::stoi(cols[11])));
    const bool listed = cols[12] == "1";
    for (size_t i = 0; i < ours.size(); ++i) {
      ASSERT_EQ(ours[i].recno, theirs[i].recno) << "key " << i;
      if (listed) {
        const char type = cols[9] == "L" ? 'C' : cols[9][0];
        ASSERT_TRUE(SameKeyText(ours[i], theirs[i], type))
            << "key " << i << ": " << ours[i].text << " / " << theirs[i].text;
      }
    }
    ++compared;
  }
  EXPECT_EQ(compared, 21);
}

// Every other fixture CDX: every tag walks in the order Perl XBase reads it (record
// numbers; plain character keys too). Binary tags are listed but refuse to be walked;
// the damaged X# files walk to their end.
TEST(CdxFixtures, EveryTagWalksInTheOrderPerlXBaseReads) {
  REQUIRE_SHARED();
  if (RunCommand("perl -MXBase -e 1 2>/dev/null") != 0) GTEST_SKIP() << "Perl XBase missing";
  int tags = 0, compared = 0, unmaintainable = 0;
  for (const fs::path& cdx : FixtureFiles(".cdx")) {
    if (cdx.parent_path().filename() == "peer-harbour") continue;
    SCOPED_TRACE(cdx.string());
    const std::string dbf = TableFor(cdx);
    auto table = OpenTable(dbf);
    std::unique_ptr<KXobjCDXFile> file;
    ASSERT_NO_THROW(file = std::make_unique<KXobjCDXFile>(table.get(), cdx.string(), false, false,
                                                          false, false));
    for (int i = 0; i < file->TagCount(); ++i) {
      auto& tag = *static_cast<KXobjCDXTag*>(file->TagAt(i));
      ++tags;
      if (!tag.Maintainable()) ++unmaintainable;
      if (tag.Header().signature == kCdxSignatureBinary) {
        EXPECT_THROW(tag.Goto(PosTop), ETolvernError);
        continue;
      }
      std::vector<Key> ours = Walk(tag, 100000);
      if (dbf.empty()) continue;
      // Perl XBase reads the leaves in stored order, also for descending tags.
      if (tag.Descending()) std::reverse(ours.begin(), ours.end());
      const char* type = tag.Kind() == KXobjCDXTag::KeyKind::Number
                             ? "num"
                             : (tag.Kind() == KXobjCDXTag::KeyKind::Date ? "date" : "char");
      const std::vector<Key> theirs = PerlKeys(cdx.string(), tag.TagName(), dbf, type);
      ASSERT_EQ(ours.size(), theirs.size()) << tag.TagName();
      const bool plainText =
          tag.Kind() == KXobjCDXTag::KeyKind::Character && tag.Collation() == CdxCollation::Machine;
      for (size_t k = 0; k < ours.size(); ++k) {
        ASSERT_EQ(ours[k].recno, theirs[k].recno) << tag.TagName() << " key " << k;
        const bool ascii = std::all_of(ours[k].text.begin(), ours[k].text.end(), [](char c) {
          return c >= 0x20 && c < 0x7F && c != '"' && c != '\\';
        });
        if (plainText && ascii && tag.Maintainable()) {
          EXPECT_EQ(TrimRight(ours[k].text), theirs[k].text) << tag.TagName() << " key " << k;
        }
      }
      ++compared;
    }
    // Without a table nothing can be evaluated; with one, a seek in a tag that cannot be
    // maintained is refused.
    for (int i = 0; i < file->TagCount(); ++i) {
      KXobjIndexTag& tag = *file->TagAt(i);
      if (tag.Maintainable()) continue;
      KXobjIndexKeyData probe;
      probe.SetText("A");
      EXPECT_THROW(tag.Seek(probe), ETolvernError);
    }
  }
  EXPECT_GT(tags, 200);
  EXPECT_GT(compared, 180);
  EXPECT_GT(unmaintainable, 10);
}

// Tags another program wrote are maintained when this engine keys them exactly, and
// refused (before anything is written) when it does not.
TEST(CdxFixtures, WritesFollowMaintainableTagsAndStopAtTheOthers) {
  REQUIRE_SHARED();
  TempDir dir;
  const fs::path folder = FixturesDir() / "peer-harbour";
  for (const char* name : {"foxstd.dbf", "foxstd.cdx", "foxstd.fpt"})
    fs::copy_file(folder / name, dir.Path() / name);
  {
    IndexedTable t(dir.File("foxstd.dbf"));
    KXobjCDXFile file(&t, dir.File("foxstd.cdx"), false, false, true, false);
    t.indexes.push_back(&file);
    const uint32_t counter = file.ChangeCounter();
    for (int32_t r = 1; r <= 30; ++r) {
      t.GetRecord(r);
      t.PutFieldByName("NAME", "Renamed " + std::to_string(r % 7));
      t.PutNumberByName("AMOUNT", -r * 3.5);
      t.PutRecord(r);
    }
    for (int i = 0; i < 20; ++i) {
      t.GetRecord(i + 1);
      t.PutFieldByName("NOTES", "");
      t.AppendRecord();
    }
    EXPECT_EQ(file.ChangeCounter(), counter + 50);
    for (int i = 0; i < file.TagCount(); ++i) {
      auto& tag = *static_cast<KXobjCDXTag*>(file.TagAt(i));
      EXPECT_EQ(Walk(tag), ExpectedKeys(t, tag)) << tag.TagName();
    }
  }
  if (RunCommand("perl -MXBase -e 1 2>/dev/null") == 0) {
    KXO_dBaseFld t(dir.File("foxstd.dbf"), false, false);
    KXobjCDXFile file(&t, dir.File("foxstd.cdx"), false, false, false, false);
    for (int i = 0; i < file.TagCount(); ++i) {
      auto& tag = *static_cast<KXobjCDXTag*>(file.TagAt(i));
      auto ours = Walk(tag);
      if (tag.Descending()) std::reverse(ours.begin(), ours.end());
      const auto theirs = PerlKeys(dir.File("foxstd.cdx"), tag.TagName(), dir.File("foxstd.dbf"));
      ASSERT_EQ(ours.size(), theirs.size()) << tag.TagName();
      for (size_t k = 0; k < ours.size(); ++k) EXPECT_EQ(ours[k].recno, theirs[k].recno);
    }
  }

  // A Visual FoxPro file whose tags key integer fields: listed, walked, never written.
  const fs::path vfp = FixturesDir() / "infused-dbf/foxprodb";
  for (const char* name : {"calls.dbf", "calls.CDX", "calls.FPT"})
    fs::copy_file(vfp / name, dir.Path() / name);
  const auto before = ReadBytes(dir.Path() / "calls.CDX");
  {
    IndexedTable t(dir.File("calls.dbf"));
    KXobjCDXFile file(&t, dir.File("calls.CDX"), false, false, true, false);
    t.indexes.push_back(&file);
    ASSERT_EQ(file.TagCount(), 2);
    for (int i = 0; i < file.TagCount(); ++i) {
      auto& tag = *static_cast<KXobjCDXTag*>(file.TagAt(i));
      EXPECT_FALSE(tag.Maintainable());
      EXPECT_NE(tag.ReadOnlyReason().find("4-byte keys"), std::string::npos);
      EXPECT_EQ(Walk(tag).size(), 16u);
    }
    t.GetRecord(1);
    EXPECT_THROW(file.KeyUpdateAll(1, false), ETolvernError);
    EXPECT_THROW(file.Reindex(), ETolvernError);
    KXobjIndexKeyData probe;
    probe.SetFloat(3);
    EXPECT_THROW(file.TagAt(0)->Seek(probe), ETolvernError);
  }
  EXPECT_EQ(ReadBytes(dir.Path() / "calls.CDX"), before);
}

// Built files read back by Perl XBase: the same keys and record numbers after appends
// and rewrites.
TEST(CdxInterop, PerlXBaseReadsBuiltAndMaintainedFiles) {
  REQUIRE_SHARED();
  if (RunCommand("perl -MXBase -e 1 2>/dev/null") != 0) GTEST_SKIP() << "Perl XBase missing";
  TempDir dir;
  const std::string table = dir.File("perl.dbf"), index = dir.File("perl.cdx");
  MakeTable(table, People::Fields());
  People people;
  {
    KXO_dBaseFld t(table, true, false);
    for (int i = 0; i < 2500; ++i) {
      people.Fill(t);
      t.AppendRecord();
    }
  }
  const std::vector<TagDef> tags = {{"NAME", "NAME", ""},
                                    {"AMOUNT", "AMOUNT", ""},
                                    {"BORN", "BORN", ""},
                                    {"NAMED", "NAME", "", false},
                                    {"CITYU", "CITY", "", true, true},
                                    {"ACTFOR", "NAME", "ACTIVE"}};
  {
    IndexedTable t(table);
    KXobjCDXFile file(&t, index, true, false, true, false);
    AddTags(file, tags);
    t.indexes.push_back(&file);
    std::mt19937 rng(5);
    for (int i = 0; i < 600; ++i) {
      if (i % 3 == 0) {
        people.Fill(t);
        t.AppendRecord();
      } else {
        const int32_t r = 1 + static_cast<int32_t>(rng() % 2500);
        t.GetRecord(r);
        people.Fill(t);
        t.PutRecord(r);
      }
    }
  }
  KXO_dBaseFld t(table, false, false);
  KXobjCDXFile file(&t, index, false, false, false, false);
  for (const TagDef& def : tags) {
    KXobjCDXTag& tag = TagOf(file, def.name);
    std::vector<Key> ours = Walk(tag);
    if (tag.Descending()) std::reverse(ours.begin(), ours.end());
    const std::vector<Key> theirs = PerlKeys(index, def.name, table);
    ASSERT_EQ(ours.size(), theirs.size()) << def.name;
    for (size_t k = 0; k < ours.size(); ++k) {
      ASSERT_EQ(ours[k].recno, theirs[k].recno) << def.name << " key " << k;
      if (tag.Kind() == KXobjCDXTag::KeyKind::Number) {
        EXPECT_TRUE(SameKeyText(ours[k], theirs[k], 'N')) << ours[k].text << " " << theirs[k].text;
      } else if (tag.Kind() == KXobjCDXTag::KeyKind::Date) {
        EXPECT_EQ(ours[k].text.empty() ? "0" : ours[k].text, theirs[k].text);
      } else if (std::all_of(ours[k].text.begin(), ours[k].text.end(),
                             [](char c) { return c >= 0x20 && c < 0x7F && c != '"'; })) {
        EXPECT_EQ(ours[k].text, theirs[k].text);
      }
    }
  }
}

// ---------------------------------------------------------------------------------------
// Damaged files

// Fixture CDX files with bytes changed all over (headers, branch and leaf pages) or cut
// short open with an engine error or walk to an end; nothing crashes or hangs.
TEST(CdxDamage, ChangedBytesGiveEngineErrorsNeverCrashes) {
  REQUIRE_SHARED();
  TempDir dir;
  std::vector<fs::path> sources;
  for (const fs::path& cdx : FixtureFiles(".cdx")) {
    const auto size = fs::file_size(cdx);
    if (size <= 40000) sources.push_back(cdx);
  }
  ASSERT_GT(sources.size(), 30u);
  std::mt19937 rng(31337);
  int opened = 0, refused = 0;
  for (size_t s = 0; s < sources.size(); s += 2) {
    const std::vector<uint8_t> original = ReadBytes(sources[s]);
    for (int round = 0; round < 40; ++round) {
      std::vector<uint8_t> bytes = original;
      if (round == 0) {
        bytes.resize(bytes.size() / 2);
      } else {
        const int changes = 1 + round % 4;
        for (int c = 0; c < changes; ++c) {
          // Page headers and leaf parameters most of the time, anywhere otherwise.
          size_t at = rng() % bytes.size();
          if (rng() % 2 == 0) at = (at & ~size_t{511}) + rng() % 24;
          if (at >= bytes.size()) continue;
          static const uint8_t values[] = {0x00, 0x01, 0x02, 0x03, 0x7F, 0x80, 0xFF};
          bytes[at] = rng() % 3 == 0 ? static_cast<uint8_t>(rng()) : values[rng() % 7];
        }
      }
      const std::string path = dir.File("damaged.cdx");
      WriteBytes(path, bytes);
      try {
        KXobjCDXFile file(nullptr, path, false, false, false, false);
        ++opened;
        for (int i = 0; i < file.TagCount(); ++i) {
          try {
            Walk(*static_cast<KXobjCDXTag*>(file.TagAt(i)), 20000);
          } catch (const ETolvernError&) {
            ++refused;
          }
        }
      } catch (const ETolvernError&) {
        ++refused;
      }
    }
  }
  EXPECT_GT(opened, 100);
  EXPECT_GT(refused, 50);
}

}  // namespace
}  // namespace tolvern
