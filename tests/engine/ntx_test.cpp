// The NTX layout: header fields, key forms of numbers and dates, the FOR condition, the
// update counter, descending files, and changes to files another program wrote.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "kx6_build.h"
#include "kx6_bytes.h"
#include "kx6_eror.h"
#include "kx6_fld.h"
#include "kx6_indx.h"
#include "kx6_ntx.h"
#include "test_support.h"

namespace tolvern {
namespace {

namespace fs = std::filesystem;
using fendral::test::FixturesDir;
using fendral::test::ReadBytes;
using fendral::test::RunCommand;
using fendral::test::SharedDir;
using fendral::test::TempDir;
using fendral::test::WriteBytes;

class IndexedTable : public KXO_dBaseFld {
 public:
  IndexedTable(const std::string& name, bool shared = false) : KXO_dBaseFld(name, true, shared) {}
  std::vector<KXobjIndexFile*> indexes;
  bool RecordEvent(int event, int32_t number) override {
    const bool result = KXO_dBaseFld::RecordEvent(event, number);
    if (event == kEventAfterWrite) {
      for (KXobjIndexFile* file : indexes) file->KeyUpdateAll(CurrentRecord(), number == 0);
    }
    return result;
  }
};

std::string MakeTable(const TempDir& dir, int count,
                      const std::function<void(KXO_dBaseFld&, int)>& fill) {
  const std::string path = dir.File("t.dbf");
  {
    KXO_DBFBuild build(path);
    build.AddField("NAME", 'C', 10, 0);
    build.AddField("AMOUNT", 'N', 8, 2);
    build.AddField("BORN", 'D', 8, 0);
    build.WriteTable();
  }
  KXO_dBaseFld table(path, true, false);
  for (int i = 1; i <= count; ++i) {
    table.BlankRecord();
    fill(table, i);
    table.AppendRecord();
  }
  return path;
}

std::vector<int32_t> Records(KXobjIndexTag& tag) {
  std::vector<int32_t> out;
  for (int32_t recno = tag.Goto(PosTop); !tag.Eof() && out.size() < 100000;
       recno = tag.Goto(PosNext))
    out.push_back(recno);
  return out;
}

TEST(NtxFile, NumberKeysSortNegativeNumbersFirstLargerMagnitudesFirst) {
  EXPECT_EQ(KXobjNTXTag::NumberKey(-5, 3, 0), ",,'");  // codes 44 44 39
  EXPECT_EQ(KXobjNTXTag::NumberKey(-10, 3, 0), ",+,");
  EXPECT_EQ(KXobjNTXTag::NumberKey(0, 3, 0), "000");
  EXPECT_EQ(KXobjNTXTag::NumberKey(12.5, 6, 2), "012.50");
  EXPECT_EQ(KXobjNTXTag::NumberKey(-999999.99, 10, 2), ",######.##");
  EXPECT_EQ(KXobjNTXTag::NumberKey(1234.5, 6, 2), "******");
  EXPECT_EQ(KXobjNTXTag::NumberKey(0.125, 6, 2), "000.12");  // rounded as printf rounds
  EXPECT_LT(KXobjNTXTag::NumberKey(-10, 3, 0), KXobjNTXTag::NumberKey(-5, 3, 0));
  EXPECT_LT(KXobjNTXTag::NumberKey(-5, 3, 0), KXobjNTXTag::NumberKey(0, 3, 0));
  for (double v : {-10.0, -5.0, 0.0, 12.5, -0.09, 48377.15})
    EXPECT_EQ(KXobjNTXTag::KeyNumber(KXobjNTXTag::NumberKey(v, 10, 2)), v);
}

TEST(NtxFile, NewFilesCarryTheHeaderFieldsAndOneEmptyPage) {
  TempDir dir;
  const std::string table = MakeTable(dir, 0, [](KXO_dBaseFld&, int) {});
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("e.ntx");
  {
    KXobjNTXFile index(&t, path, true, true, true, false);
    index.TagAdd("E", "AMOUNT", "AMOUNT > 0", false, true);
  }
  const std::vector<uint8_t> bytes = ReadBytes(path);
  ASSERT_EQ(bytes.size(), 2048u);
  const ByteReader h(bytes.data(), bytes.size());
  EXPECT_EQ(h.U16LE(0), 7);      // a FOR condition
  EXPECT_EQ(h.U16LE(2), 1);      // update counter
  EXPECT_EQ(h.U32LE(4), 1024u);  // root
  EXPECT_EQ(h.U16LE(12), 16);    // entry size
  EXPECT_EQ(h.U16LE(14), 8);     // key length: the field's width
  EXPECT_EQ(h.U16LE(16), 2);     // decimals
  EXPECT_EQ(h.U16LE(18), 54);    // keys per page
  EXPECT_EQ(h.U16LE(20), 27);
  EXPECT_EQ(h.Text(22, 7), std::string("AMOUNT\0", 7));
  EXPECT_EQ(h.U8(278), 1);  // unique
  EXPECT_EQ(h.U8(279), 0);
  EXPECT_EQ(h.U8(280), 1);  // descending, where other programs read it
  EXPECT_EQ(h.Text(282, 11), std::string("AMOUNT > 0\0", 11));
  // The empty root: no key, and the offset table a fresh page has (entries from 112 on).
  const ByteReader root(bytes.data() + 1024, 1024);
  EXPECT_EQ(root.U16LE(0), 0);
  EXPECT_EQ(root.U16LE(2), 112);
  EXPECT_EQ(root.U16LE(4), 112 + 16);
  EXPECT_EQ(std::count(bytes.begin() + 1024 + 112, bytes.end(), 0), 1024 - 112);

  KXobjNTXFile reopened(&t, path, false, false, true, false);
  const KXobjIndexTag* tag = reopened.TagAt(0);
  EXPECT_EQ(tag->KeyType(), 'N');
  EXPECT_TRUE(tag->HasFor());
  EXPECT_EQ(tag->ForExprText(), "AMOUNT > 0");
  EXPECT_TRUE(tag->Unique());
  EXPECT_FALSE(tag->Ascending());
  EXPECT_TRUE(tag->DescendingCompare());
}

TEST(NtxFile, DatesAreTextWithTheEmptyDateFirst) {
  TempDir dir;
  const std::vector<std::string> dates = {"20200105", "", "19991231"};
  const std::string table = MakeTable(dir, 3, [&](KXO_dBaseFld& t, int i) {
    if (!dates[i - 1].empty()) t.PutFieldByName("BORN", dates[i - 1]);
  });
  KXO_dBaseFld t(table, true, false);
  const std::string path = dir.File("born.ntx");
  KXobjNTXFile index(&t, path, true, true, true, false);
  index.TagAdd("BORN", "BORN", "", true, false);
  EXPECT_EQ(Records(*index.TagAt(0)), (std::vector<int32_t>{2, 3, 1}));
  // The leaf's first entry: record 2 with eight blanks.
  const std::vector<uint8_t> bytes = ReadBytes(path);
  const ByteReader page(bytes.data() + 1024, 1024);
  const size_t first = page.U16LE(2);
  EXPECT_EQ(page.U32LE(first + 4), 2u);
  EXPECT_EQ(page.Text(first + 8, 8), "        ");
  t.SetExactMatch(true);
  KXobjIndexKeyData key(256);
  key.SetText("19991231");
  key.SetReference(kSearchAnyRecord);
  EXPECT_EQ(index.TagAt(0)->Seek(key), 3);
}

TEST(NtxFile, EveryWriteCountsInTheHeaderAndOtherHandlesSeeIt) {
  TempDir dir;
  const std::string table = MakeTable(dir, 4, [](KXO_dBaseFld& t, int i) {
    t.PutFieldByName("NAME", std::string(1, static_cast<char>('A' + i)));
  });
  IndexedTable t(table, true);
  const std::string path = dir.File("n.ntx");
  KXobjNTXFile index(&t, path, true, true, true, true);
  index.TagAdd("N", "NAME", "", true, false);
  t.indexes.push_back(&index);
  KXobjNTXFile watcher(&t, path, false, false, false, true);
  EXPECT_FALSE(watcher.ExternalChange());
  auto counter = [&] { return ByteReader(ReadBytes(path).data(), 4).U16LE(2); };
  EXPECT_EQ(counter(), 1);
  t.GetRecord(2);
  t.PutRecord(2);
  t.GetRecord(3);
  t.PutRecord(3);
  EXPECT_EQ(counter(), 3);
  EXPECT_TRUE(watcher.ExternalChange());

  index.SetUpdateCounter(0x7FFF);
  t.GetRecord(1);
  t.PutRecord(1);
  EXPECT_EQ(counter(), 1);
}

TEST(NtxFile, DescendingFilesAreSearchedAndMaintainedInTheirOrder) {
  TempDir dir;
  const std::string table = MakeTable(
      dir, 6, [](KXO_dBaseFld& t, int i) { t.PutNumberByName("AMOUNT", (i % 3) * 10.5 - 5); });
  IndexedTable t(table);
  const std::string path = dir.File("d.ntx");
  {
    KXobjNTXFile index(&t, path, true, true, true, false);
    index.TagAdd("D", "AMOUNT", "", false, false);
    // Equal keys keep record order in a descending file as well.
    EXPECT_EQ(Records(*index.TagAt(0)), (std::vector<int32_t>{2, 5, 1, 4, 3, 6}));
  }
  // A file that marks descending in byte 279 only (as older writers do) reads the same.
  std::vector<uint8_t> bytes = ReadBytes(path);
  bytes[279] = 1;
  bytes[280] = 0;
  WriteBytes(path, bytes);
  KXobjNTXFile index(&t, path, false, false, true, false);
  KXobjIndexTag* tag = index.TagAt(0);
  ASSERT_TRUE(tag->DescendingCompare());
  t.indexes.push_back(&index);
  t.SetExactMatch(true);
  KXobjIndexKeyData key(256);
  key.SetText("5.5");
  key.SetReference(kSearchAnyRecord);
  EXPECT_EQ(tag->Seek(key), 1);
  t.BlankRecord();
  t.PutNumberByName("AMOUNT", 5.5);
  t.AppendRecord();
  t.BlankRecord();
  t.PutNumberByName("AMOUNT", 100);
  t.AppendRecord();
  EXPECT_EQ(Records(*tag), (std::vector<int32_t>{8, 2, 5, 1, 4, 7, 3, 6}));
}

// Files another program grew by inserts take further appends and rewrites; the result
// reads in key order and as that program's peer readers read it.
TEST(NtxFile, HarbourWrittenFilesTakeChanges) {
  REQUIRE_SHARED();
  const fs::path folder = FixturesDir() / "peer-harbour";
  TempDir dir;
  for (const char* name : {"clip.dbf", "clip.dbt", "clip_name.ntx", "clip_cityam.ntx"})
    fs::copy_file(folder / name, dir.Path() / name);
  IndexedTable table(dir.File("clip.dbf"));
  KXobjNTXFile byName(&table, dir.File("clip_name.ntx"), false, false, true, false);
  KXobjNTXFile byCity(&table, dir.File("clip_cityam.ntx"), false, false, true, false);
  ASSERT_TRUE(byName.TagAt(0)->Maintainable());
  ASSERT_TRUE(byCity.TagAt(0)->Maintainable());
  table.indexes = {&byName, &byCity};
  for (int i = 0; i < 300; ++i) {
    if (i % 3 == 0) {
      table.BlankRecord();
      table.PutFieldByName("NAME", "Append " + std::to_string(i % 37));
      table.PutFieldByName("CITY", i % 2 ? "Oslo" : "Rome");
      table.AppendRecord();
    } else {
      const int32_t recno = 1 + (i * 7919) % table.RecordCount();
      table.GetRecord(recno);
      table.PutFieldByName("NAME", "Rewrite " + std::to_string(i % 23));
      table.PutNumberByName("AMOUNT", i * 1.25 - 100);
      table.PutRecord(recno);
    }
  }
  for (KXobjNTXFile* index : {&byName, &byCity}) {
    KXobjIndexTag* tag = index->TagAt(0);
    std::vector<int32_t> order;
    std::string previous;
    for (int32_t recno = tag->Goto(PosTop); !tag->Eof(); recno = tag->Goto(PosNext)) {
      const std::string key = tag->CurrentKey().AsText();
      EXPECT_LE(previous, key) << index->FileName();
      previous = key;
      order.push_back(recno);
    }
    std::vector<int32_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    std::vector<int32_t> all(static_cast<size_t>(table.RecordCount()));
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<int32_t>(i + 1);
    EXPECT_EQ(sorted, all) << index->FileName();

    std::string out;
    ASSERT_EQ(RunCommand("/usr/bin/python3 '" + (SharedDir() / "peers" / "index_walk.py").string() +
                             "' '" + dir.File(index->FileName()) + "'",
                         &out),
              0);
    std::vector<int32_t> walked;
    for (size_t at = 0; (at = out.find("\"recno\":", at)) != std::string::npos;)
      walked.push_back(std::stoi(out.substr(at += 8)));
    EXPECT_EQ(walked, order) << index->FileName();
  }
}

}  // namespace
}  // namespace tolvern
